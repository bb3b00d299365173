// The process-wide record of executed commands, for undo and redo. Commands
// before the position are done; those from the position on were undone and
// can be redone. HTTP workers call Do at the same moment, so every operation
// runs under the one lock, Execute and Undo included.
#pragma once

#include <cstddef>
#include <vector>

#include "concurrency/Mutex.h"
#include "foundation/Shareable.h"
#include "foundation/ThreadSafety.h"
#include "web/Command.h"

namespace Kelm {

class CommandHistory {
public:
    // Runs the command; when it succeeds, drops the undone commands and
    // records it. A failed command is not recorded.
    void Do(SharedPtr<Command> command);
    // Undoes the last done command; false when there is none.
    bool Undo();
    // Executes the first undone command again; false when there is none.
    bool Redo();

    size_t GetPosition();
    size_t GetCount();

private:
    Mutex m_mutex;
    std::vector<SharedPtr<Command>> m_commands KELM_GUARDED_BY(m_mutex);
    size_t m_position KELM_GUARDED_BY(m_mutex) = 0;
};

}  // namespace Kelm
