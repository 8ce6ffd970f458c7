#include "connection/ConnectionLog.h"

namespace nebrin {

void ConnectionLog::Clear() {
    lines_.clear();
    if (listener_) listener_->Cleared();
}

void ConnectionLog::AddLine(std::string_view line) {
    lines_.emplace_back(line);
    if (listener_) listener_->LineAdded(lines_.back());
}

ConnectionLog& ProgramLog() {
    static ConnectionLog log;
    return log;
}

}  // namespace nebrin
