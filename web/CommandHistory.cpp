// See CommandHistory.h. The lock is held while a command runs, so the
// commands' own checks (an add looks for the server first) see no other
// command's changes half-way. The commands take the registry's lock inside
// it; nothing takes this lock while holding the registry's.
#include "web/CommandHistory.h"

namespace Kelm {

void CommandHistory::Do(SharedPtr<Command> command)
{
    MutexLocker locker(m_mutex);
    if (!command || !command->Execute()) return;
    m_commands.resize(m_position);
    m_commands.push_back(command);
    m_position = m_commands.size();
}

bool CommandHistory::Undo()
{
    MutexLocker locker(m_mutex);
    if (m_commands.empty() || m_position == 0) return false;
    --m_position;
    return m_commands[m_position]->Undo();
}

bool CommandHistory::Redo()
{
    MutexLocker locker(m_mutex);
    if (m_commands.empty() || m_position == m_commands.size()) return false;
    bool done = m_commands[m_position]->Execute();
    ++m_position;
    return done;
}

size_t CommandHistory::GetPosition()
{
    MutexLocker locker(m_mutex);
    return m_position;
}

size_t CommandHistory::GetCount()
{
    MutexLocker locker(m_mutex);
    return m_commands.size();
}

}  // namespace Kelm
