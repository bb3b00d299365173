// A configuration file kept as a map from key to value, one "key value" line
// per entry under the version header:
//
//     // fv.cfg
//     // File version follows on next line.
//     11
//
//     port 8080
//
// Keys are case-sensitive; later lines win; a value keeps its inner blanks.
#pragma once

#include <map>
#include <string>

namespace Kelm {

class ConfigFile {
public:
    virtual ~ConfigFile() = default;

    // False when the file is missing or has no version line; what was stored
    // before stays.
    bool Load(const std::string& filename);
    bool Save(const std::string& filename);

    bool Exists(const std::string& key) const;
    std::string GetValue(const std::string& key) const;  // "" when absent
    float GetFloat(const std::string& key) const;        // atof of the value, 0 when absent
    void Set(const std::string& key, const std::string& value);
    void Erase(const std::string& key);
    void Clear();

private:
    std::map<std::string, std::string> m_values;
};

}  // namespace Kelm
