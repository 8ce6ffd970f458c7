#include "app/WebMessage.h"

#include <utility>

namespace nebrin::web {
namespace {

void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t GetLe(const char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint64_t(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

}  // namespace

int NumberCount(std::uint8_t kind) {
    switch (static_cast<Kind>(kind)) {
        case Kind::Hello: return 1;
        case Kind::Heartbeat: return 0;
        case Kind::PaneLoaded:
        case Kind::PopupLoaded: return 1;
        case Kind::PageContent: return 2;
        case Kind::EmbedPane: return 5;
        case Kind::Navigate: return 0;
        case Kind::ShowPopup: return 3;
        case Kind::HidePopup:
        case Kind::Quit: return 0;
        case Kind::PlacePopup: return 3;
        case Kind::FollowLink:
        case Kind::MarkLink: return 3;
    }
    return -1;
}

std::string Encode(const Message& message) {
    const int count = NumberCount(static_cast<std::uint8_t>(message.kind));
    if (count < 0 || static_cast<std::size_t>(count) != message.numbers.size()) return {};
    const std::size_t payload = 2 + 8 * message.numbers.size() + message.text.size();
    if (payload > kMaxPayload) return {};
    std::string out;
    out.reserve(4 + payload);
    PutLe(out, payload, 4);
    out.push_back(static_cast<char>(message.kind));
    out.push_back(static_cast<char>(count));
    for (std::int64_t n : message.numbers) PutLe(out, static_cast<std::uint64_t>(n), 8);
    out += message.text;
    return out;
}

void Decoder::Feed(std::string_view bytes) {
    if (!error_.empty()) return;
    // Drop what was read before growing the buffer.
    if (offset_ > 0 && offset_ >= buffer_.size() / 2) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(bytes.data(), bytes.size());
}

Decoder::Result Decoder::Fail(std::string why) {
    error_ = std::move(why);
    buffer_.clear();
    offset_ = 0;
    return Result::Broken;
}

Decoder::Result Decoder::Next(Message& out) {
    if (!error_.empty()) return Result::Broken;
    const std::size_t have = buffer_.size() - offset_;
    if (have < 4) return Result::NeedMore;
    const char* p = buffer_.data() + offset_;
    const std::uint64_t payload = GetLe(p, 4);
    if (payload < 2 || payload > kMaxPayload) return Fail("frame length " + std::to_string(payload));
    if (have - 4 < payload) return Result::NeedMore;
    const auto kind = static_cast<std::uint8_t>(p[4]);
    const auto count = static_cast<std::uint8_t>(p[5]);
    const int expected = NumberCount(kind);
    if (expected < 0) return Fail("unknown message kind " + std::to_string(kind));
    if (count != expected || 2 + 8 * std::uint64_t(count) > payload)
        return Fail("message kind " + std::to_string(kind) + " with " + std::to_string(count) + " numbers");
    Message m;
    m.kind = static_cast<Kind>(kind);
    m.numbers.reserve(count);
    for (std::ptrdiff_t i = 0; i < count; ++i) m.numbers.push_back(static_cast<std::int64_t>(GetLe(p + 6 + 8 * i, 8)));
    const std::size_t textAt = 6 + 8 * std::size_t(count);
    m.text.assign(p + textAt, payload + 4 - textAt);
    offset_ += 4 + payload;
    out = std::move(m);
    return Result::Message;
}

}  // namespace nebrin::web
