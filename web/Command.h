// Commands that change the server list and can be undone, run through the
// process-wide CommandHistory. The web interface adds servers this way.
//
//     SharedPtr<CommandAddServer> add(new CommandAddServer("alpha", 80));
//     Singleton<CommandHistory>::Instance()->Do(add);
//     if (!add->GetResult()) ... add->GetFailure() says why
#pragma once

#include <string>

#include "foundation/Shareable.h"

namespace Kelm {

class Command : public Shareable {
public:
    ~Command() override = default;
    virtual bool Execute() = 0;
    virtual bool Undo() = 0;
};

class UptimeCommand : public Command {
public:
    ~UptimeCommand() override = default;
    bool Undo() override { return true; }
    std::string GetName() const { return m_name; }
    // The outcome of the last Execute or Undo (0 before either ran).
    int GetResult() const { return m_result; }

protected:
    std::string m_name;
    int m_result = 0;
};

class CommandAddServer : public UptimeCommand {
public:
    enum Failure {
        FAILURE_NONE,
        FAILURE_ALREADY_LISTED,  // the name (any case) and port are listed
        FAILURE_NOT_SAVED,       // the registry refused it or could not save the list
    };

    CommandAddServer(const std::string& name, int port) : m_hostName(name), m_port(port) {}
    ~CommandAddServer() override = default;

    // Adds a new Server for the name and port unless that name (compared
    // without regard to case) and port are listed already. CommandHistory
    // runs every command under its one lock, so two adds of the same server
    // cannot both pass the check.
    bool Execute() override;
    // Deletes the server again.
    bool Undo() override;

    // Why the last Execute failed; FAILURE_NONE after a success.
    Failure GetFailure() const { return m_failure; }

private:
    std::string m_hostName;
    int m_port;
    Failure m_failure = FAILURE_NONE;
};

}  // namespace Kelm
