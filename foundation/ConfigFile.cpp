#include "foundation/ConfigFile.h"

#include <cstdlib>

#include "foundation/File.h"
#include "foundation/Tokeniser.h"

namespace Kelm {

bool ConfigFile::Load(const std::string& filename)
{
    File file(true, false);
    if (!file.OpenRead(filename, false, true)) return false;

    std::string line;
    while (file.GetDataLine(line)) {
        std::string key;
        Tokeniser tokeniser;
        if (tokeniser.Tokenise(line, key)) Set(key, line);
    }
    return true;
}

bool ConfigFile::Save(const std::string& filename)
{
    File file(true, true);
    if (!file.OpenWrite(filename, FILE_VERSION, false, true, true)) {
        file.ReportError("Couldn't open config file for writing.");
        return false;
    }
    for (const auto& [key, value] : m_values) {
        if (!file.WriteString(key + " " + value)) return false;
    }
    return true;
}

bool ConfigFile::Exists(const std::string& key) const
{
    return m_values.count(key) != 0;
}

std::string ConfigFile::GetValue(const std::string& key) const
{
    auto found = m_values.find(key);
    return found == m_values.end() ? std::string() : found->second;
}

float ConfigFile::GetFloat(const std::string& key) const
{
    auto found = m_values.find(key);
    return found == m_values.end() ? 0.0f : static_cast<float>(std::atof(found->second.c_str()));
}

void ConfigFile::Set(const std::string& key, const std::string& value)
{
    if (key.empty()) return;
    m_values[key] = value;
}

void ConfigFile::Erase(const std::string& key)
{
    m_values.erase(key);
}

void ConfigFile::Clear()
{
    m_values.clear();
}

}  // namespace Kelm
