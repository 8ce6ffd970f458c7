// WebMessage: the messages between the dialer and nebrin-web, the program
// that holds the web engine, and their framing on the byte stream between
// them (a local socket).
//
// A frame is the payload's length (4 bytes, little-endian), then the payload:
// the kind (1 byte), the count of numbers (1 byte), the numbers (8 bytes
// each, little-endian, two's complement) and a text filling the rest. Each
// kind has a fixed count of numbers; a frame that breaks a rule breaks the
// stream, which is then ended by the side that reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nebrin::web {

enum class Kind : std::uint8_t {
    // nebrin-web to the dialer.
    Hello = 1,        // numbers: process id. Sent once the engine has started.
    Heartbeat = 2,    // every second from the user-interface thread
    PaneLoaded = 3,   // numbers: 1 loaded, 0 failed
    PopupLoaded = 4,  // numbers: 1 loaded, 0 failed
    PageContent = 5,  // numbers: view (PageView), generation; text: the page for screen readers (PageReading.h)

    // The dialer to nebrin-web.
    EmbedPane = 10,  // numbers: parent window id, x, y, width, height
    Navigate = 11,   // text: the pane's address (web address or local file path)
    ShowPopup = 12,  // numbers: parent window id, width, height; text: the address
    HidePopup = 13,
    Quit = 14,
    PlacePopup = 15,  // numbers: parent window id, width, height (the page stays)
    FollowLink = 16,  // numbers: view, generation, the link's place in that PageContent's list
    MarkLink = 17,    // numbers: as FollowLink; the keyboard focus is on that link (kMarkNone, kMarkPage)
};

// The page a PageContent or FollowLink is about.
enum class PageView : int { Pane = 0, Popup = 1 };

// MarkLink's place for no link, and for the page as a whole.
inline constexpr std::int64_t kMarkNone = -1;
inline constexpr std::int64_t kMarkPage = -2;

struct Message {
    Kind kind = Kind::Heartbeat;
    std::vector<std::int64_t> numbers;
    std::string text;

    bool operator==(const Message&) const = default;
};

// The largest payload either side sends or accepts.
inline constexpr std::size_t kMaxPayload = std::size_t{64} * 1024;

// The count of numbers a kind carries; -1 for a kind that does not exist.
[[nodiscard]] int NumberCount(std::uint8_t kind);

// The whole frame of a message; empty when the message breaks a rule (wrong
// count of numbers, unknown kind, payload too long).
std::string Encode(const Message& message);

// Takes the stream in pieces of any size and gives back whole messages.
class Decoder {
public:
    enum class Result { Message, NeedMore, Broken };

    void Feed(std::string_view bytes);
    // The next message when a whole frame is there. Broken stays broken:
    // what follows a bad frame cannot be trusted.
    Result Next(Message& out);
    const std::string& Error() const { return error_; }

private:
    Result Fail(std::string why);

    std::string buffer_;
    std::size_t offset_ = 0;
    std::string error_;
};

}  // namespace nebrin::web
