// ConnectionLog: the lines of the connection log of the current run, kept in
// memory only (no limit, no time stamps). Every part of the program that
// reports to the user in the background appends here; the log window shows
// it. Lines written before the window exists (the start-up checks) are kept
// and shown when it appears.
//
// Texts are UTF-8. Single-threaded: the user-interface thread writes and reads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nebrin {

class ConnectionLog {
public:
    // Told about every change, after it happened (the log window).
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void LineAdded(const std::string& line) = 0;
        virtual void Cleared() = 0;
    };

    void Clear();
    void AddLine(std::string_view line);
    const std::vector<std::string>& Lines() const { return lines_; }

    // One listener at a time; nullptr removes it. The listener must not
    // outlive its registration.
    void SetListener(Listener* listener) { listener_ = listener; }

private:
    std::vector<std::string> lines_;
    Listener* listener_ = nullptr;
};

// The program's one connection log.
ConnectionLog& ProgramLog();

}  // namespace nebrin
