#include "daemon/StartUp.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

#include "foundation/ConfigFile.h"
#include "foundation/File.h"
#include "foundation/Locations.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"

namespace Kelm {

int SettlePort(int argc, char** argv)
{
    ConfigFile config;
    config.Load(GetAppFolder() + "fv.cfg");  // missing or unreadable: defaults

    int port = 8080;
    if (config.Exists("port")) port = TruncateToInt(config.GetFloat("port"));
    if (argc > 1) port = std::atoi(argv[1]);
    return port;
}

void WritePidFile()
{
    File pidFile(false, false);
    if (!pidFile.OpenWrite(GetDataFolder() + "Farview.pid", 0, false, false, true)) {
        Log("Couldn't open file pid file for writing.\n");
        return;
    }
    if (!pidFile.WriteInteger(static_cast<int>(getpid()))) {
        Log("Opened pid file but couldn't write to it.\n");
    }
    pidFile.Close();
}

void RaiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    Log("Open file limit: " + std::to_string(static_cast<unsigned long long>(limit.rlim_cur)) + "\n");
}

}  // namespace Kelm
