#include "engine/reply_handler.h"

#include <cstring>
#include <new>

#include "engine/vendor_table.h"

namespace quorvane {

ReplyHandler::ReplyHandler(HostTable& table, const AppSettings& settings, MessageTarget& hostView,
                           TickSource& ticks)
    : table_(table), settings_(settings), hostView_(hostView), ticks_(ticks) {}

ReplyHandler::Outcome ReplyHandler::Handle(std::span<const uint8_t> d, uint32_t source) {
    if (d.size() > kMaxSavedReply || !AcceptNodeStatusReply(d)) return Outcome::Ignored;
    const uint16_t slot = *ReplyTransactionId(d);  // acceptance guarantees the two bytes
    HostEntry& host = table_.slot(slot);
    if (host.ipv4() != source) return Outcome::Ignored;

    EngineMessage changed;
    EngineMessage step;
    Outcome outcome = Outcome::Unchanged;
    {
        std::lock_guard lock(table_.mutex());
        if (host.ipv4() != source) return Outcome::Ignored;  // freed or refilled meanwhile
        const uint32_t t = ticks_.Now();
        // No query outstanding (never sent, or already counted as missed): the reply is late.
        if (host.lastSendTick == 0 || t - host.lastSendTick > host.replyTimeoutMs) return Outcome::Late;
        host.replyTick = t != 0 ? t : 1;

        // The transaction id differs from reply to reply; the rest tells whether anything changed.
        const bool same = host.savedReply && host.savedReplyLength == d.size() &&
                          std::memcmp(host.savedReply.get() + 2, d.data() + 2, d.size() - 2) == 0;
        if (!same) {
            outcome = Outcome::Parsed;
            if (host.savedReplyCapacity < d.size()) {
                host.savedReply.reset(new (std::nothrow) uint8_t[d.size()]);
                host.savedReplyCapacity = host.savedReply ? static_cast<uint32_t>(d.size()) : 0;
            }
            if (host.savedReply) {
                std::memcpy(host.savedReply.get(), d.data(), d.size());
                host.savedReplyLength = static_cast<uint16_t>(d.size());
            } else {
                host.savedReplyLength = 0;
            }
            // A datagram too short for its name count still shows the host is alive.
            if (!ParseNodeStatusReply(d, reply_)) {
                reply_.nameCount = 0;
                reply_.unitId.reset();
            }
            host.pending = SelectNames(reply_, host.storedNames());
            if (host.pending.any()) {
                if (host.listed()) {
                    changed.message = WM_HOSTCHANGED;
                    changed.host = &host;
                    changed.changes = host.pending;
                } else {
                    const SelectedNames& p = host.pending;
                    if (p.groupName) HostEntry::SetName15(host.groupName, *p.groupName);
                    if (p.hostName) HostEntry::SetName15(host.hostName, *p.hostName);
                    if (p.userName) HostEntry::SetName15(host.userName, *p.userName);
                    if (p.mac) {
                        host.mac = *p.mac;
                        host.vendor = LookupVendor(host.mac);
                    }
                }
            }
        }

        switch (host.state()) {
            case HostState::Up:
                break;
            case HostState::Answering:
                ++host.streak;
                if (host.streak >= settings_.hostStateThreshold) {
                    host.setState(HostState::Up);
                    step.message = WM_HOSTALIVE;
                    step.host = &host;
                    step.lParam = host.streak;
                }
                break;
            case HostState::Down:
            case HostState::Missing:
                host.streak = 0;
                if (host.state() == HostState::Down) host.setFlagBits(kHostStartupPending, true);
                host.setState(HostState::Answering);
                step.host = &host;
                if (host.listed()) {
                    step.message = WM_HOSTANSWERED;
                    step.lParam = 1;
                } else {
                    step.message = WM_HOSTFOUND;
                }
                break;
        }
    }
    // The change goes first, so the view applies names before the state step of the same reply.
    if (changed.message) hostView_.Post(std::move(changed));
    if (step.message) hostView_.Post(std::move(step));
    return outcome;
}

}  // namespace quorvane
