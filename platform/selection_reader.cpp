#include "platform/selection_reader.h"

#include "platform/clipboard_manager.h"
#include "platform/xcb_handles.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <poll.h>
#include <vector>

namespace pimsel {

namespace {

using Clock = std::chrono::steady_clock;

// Targets that name server-side resources or side effects rather than bytes that can be kept.
bool isUnkeepableTarget(const QByteArray& name) {
    return name == "PIXMAP" || name == "BITMAP" || name == "DRAWABLE" || name == "COLORMAP" ||
           name == "DELETE" || name == "INSERT_SELECTION" || name == "INSERT_PROPERTY";
}

// Text first, then the usual image, then the rest in the owner's order: when the budget runs out
// part way, what the user most likely pastes next has been kept.
int readingRank(const QString& format) {
    if (format == QLatin1String("text/plain"))
        return 0;
    if (format.startsWith(QLatin1String("text/")))
        return 1;
    if (format == QLatin1String("image/png"))
        return 2;
    return 3;
}

struct Conversion {
    enum class Outcome { data, refused, timedOut };
    Outcome outcome = Outcome::timedOut;
    QByteArray bytes;
    xcb_atom_t type = XCB_ATOM_NONE;
};

class Requestor {
public:
    explicit Requestor(Clock::time_point deadline)
        : connection_(nullptr)
        , deadline_(deadline) {}

    bool open() {
        if (!connection_)
            return false;
        xcb_connection_t* c = connection_.get();
        const xcb_screen_t* screen = connection_.screen();
        if (!screen)
            return false;
        window_ = xcb_generate_id(c);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        property_ = atom("PIMSEL_SELECTION");
        incr_ = atom("INCR");
        return property_ != XCB_ATOM_NONE && incr_ != XCB_ATOM_NONE;
    }

    xcb_atom_t atom(const char* name) {
        xcb_connection_t* c = connection_.get();
        auto r = xcb::reply<xcb_intern_atom_reply_t>(
            c, xcb_intern_atom_reply, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // All names in one round trip.
    std::vector<QByteArray> names(const std::vector<xcb_atom_t>& atoms) {
        xcb_connection_t* c = connection_.get();
        std::vector<xcb_get_atom_name_cookie_t> cookies;
        cookies.reserve(atoms.size());
        for (xcb_atom_t a : atoms)
            cookies.push_back(xcb_get_atom_name(c, a));
        std::vector<QByteArray> result;
        result.reserve(atoms.size());
        for (auto cookie : cookies) {
            auto r = xcb::reply<xcb_get_atom_name_reply_t>(c, xcb_get_atom_name_reply, cookie);
            result.push_back(
                r ? QByteArray(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get()))
                  : QByteArray());
        }
        return result;
    }

    bool hasOwner(xcb_atom_t selection) {
        xcb_connection_t* c = connection_.get();
        auto r = xcb::reply<xcb_get_selection_owner_reply_t>(c, xcb_get_selection_owner_reply,
                                                             xcb_get_selection_owner(c, selection));
        return r && r->owner != XCB_WINDOW_NONE;
    }

    Conversion convert(xcb_atom_t selection, xcb_atom_t target) {
        xcb_connection_t* c = connection_.get();
        xcb_delete_property(c, window_, property_);
        xcb_convert_selection(c, window_, selection, target, property_, XCB_CURRENT_TIME);
        xcb::Event event = waitFor([&](const xcb_generic_event_t* e) {
            if ((e->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
                return false;
            const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(e);
            return notify->requestor == window_ && notify->selection == selection;
        });
        Conversion result;
        if (!event)
            return result;
        const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
        result.outcome = Conversion::Outcome::refused;
        if (notify->property == XCB_ATOM_NONE)
            return result;
        auto first = takeProperty();
        if (!first)
            return result;
        result.type = first->type;
        if (first->type != incr_) {
            result.bytes = propertyBytes(*first);
            result.outcome = Conversion::Outcome::data;
            return result;
        }
        // Large data comes in chunks, each announced by a new value of the property and asked
        // for by deleting it; a chunk of length zero ends the transfer.
        for (;;) {
            xcb::Event chunk = waitFor([&](const xcb_generic_event_t* e) {
                if ((e->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(e);
                return p->window == window_ && p->atom == property_ && p->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!chunk) {
                result.outcome = Conversion::Outcome::timedOut;
                result.bytes.clear();
                return result;
            }
            auto part = takeProperty();
            if (!part)
                return result;
            result.type = part->type;
            const QByteArray bytes = propertyBytes(*part);
            if (bytes.isEmpty()) {
                result.outcome = Conversion::Outcome::data;
                return result;
            }
            result.bytes += bytes;
        }
    }

    bool timeLeft() const { return Clock::now() < deadline_; }

private:
    xcb::Reply<xcb_get_property_reply_t> takeProperty() {
        xcb_connection_t* c = connection_.get();
        return xcb::reply<xcb_get_property_reply_t>(
            c, xcb_get_property_reply,
            xcb_get_property(c, 1, window_, property_, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff));
    }

    static QByteArray propertyBytes(xcb_get_property_reply_t& reply) {
        const int length = xcb_get_property_value_length(&reply);
        return QByteArray(static_cast<const char*>(xcb_get_property_value(&reply)), length);
    }

    // The first event `wanted` accepts, or none once the deadline has passed.
    xcb::Event waitFor(const std::function<bool(const xcb_generic_event_t*)>& wanted) {
        xcb_connection_t* c = connection_.get();
        xcb_flush(c);
        for (;;) {
            while (xcb::Event e{xcb_poll_for_event(c)}) {
                if (wanted(e.get()))
                    return e;
            }
            if (xcb_connection_has_error(c))
                return {};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
            if (left <= 0)
                return {};
            pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&descriptor, 1, int(left));
        }
    }

    xcb::Connection connection_;
    Clock::time_point deadline_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_atom_t property_ = XCB_ATOM_NONE;
    xcb_atom_t incr_ = XCB_ATOM_NONE;
};

struct Offer {
    QString format;
    xcb_atom_t target = XCB_ATOM_NONE;
    bool isXString = false;
    int order = 0;
};

// One target per format, the one Qt itself would read: of the X string targets UTF8_STRING first.
std::vector<Offer> offersOf(const std::vector<xcb_atom_t>& targets, const std::vector<QByteArray>& names) {
    static const char* const stringTargets[] = {"UTF8_STRING", "STRING", "TEXT"};
    std::vector<Offer> offers;
    auto find = [&](const QString& format) {
        return std::find_if(offers.begin(), offers.end(), [&](const Offer& o) { return o.format == format; });
    };
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const QByteArray& name = names[i];
        if (name.isEmpty() || isUnkeepableTarget(name))
            continue;
        const auto rank = std::find_if(std::begin(stringTargets), std::end(stringTargets),
                                       [&](const char* s) { return name == s; });
        const bool isXString = rank != std::end(stringTargets);
        const QString format = isXString ? QStringLiteral("text/plain") : QString::fromLatin1(name);
        if (ClipboardManager::isBookkeepingFormat(format))
            continue;
        auto existing = find(format);
        if (existing == offers.end()) {
            offers.push_back({format, targets[i], isXString, int(offers.size())});
            continue;
        }
        // An X string target beats the plain MIME one, and a better ranked X string a worse one.
        if (isXString) {
            const QByteArray current = names[std::size_t(
                std::find(targets.begin(), targets.end(), existing->target) - targets.begin())];
            const auto currentRank = std::find_if(std::begin(stringTargets), std::end(stringTargets),
                                                  [&](const char* s) { return current == s; });
            if (!existing->isXString || rank < currentRank) {
                existing->target = targets[i];
                existing->isXString = true;
            }
        }
    }
    return offers;
}

} // namespace

SelectionContents readClipboardSelection(std::chrono::milliseconds budget) {
    SelectionContents contents;
    Requestor requestor(Clock::now() + budget);
    if (!requestor.open())
        return contents;
    const xcb_atom_t clipboard = requestor.atom("CLIPBOARD");
    const xcb_atom_t targetsAtom = requestor.atom("TARGETS");
    const xcb_atom_t stringAtom = XCB_ATOM_STRING;
    contents.hadOwner = requestor.hasOwner(clipboard);
    if (!contents.hadOwner)
        return contents;

    const Conversion list = requestor.convert(clipboard, targetsAtom);
    if (list.outcome == Conversion::Outcome::timedOut) {
        contents.targetsUnanswered = true;
        return contents;
    }
    std::vector<xcb_atom_t> targets(std::size_t(list.bytes.size()) / sizeof(xcb_atom_t));
    std::memcpy(targets.data(), list.bytes.constData(), targets.size() * sizeof(xcb_atom_t));
    std::vector<Offer> offers = offersOf(targets, requestor.names(targets));
    std::stable_sort(offers.begin(), offers.end(), [](const Offer& a, const Offer& b) {
        return readingRank(a.format) < readingRank(b.format);
    });

    std::vector<std::optional<QByteArray>> read(offers.size());
    for (std::size_t i = 0; i < offers.size(); ++i) {
        const Offer& offer = offers[i];
        const Conversion data =
            requestor.timeLeft() ? requestor.convert(clipboard, offer.target) : Conversion{};
        if (data.outcome == Conversion::Outcome::timedOut) {
            for (std::size_t j = i; j < offers.size(); ++j)
                contents.unread.append(offers[j].format);
            break;
        }
        if (data.outcome == Conversion::Outcome::refused || data.bytes.isEmpty())
            continue;
        QByteArray bytes = data.bytes;
        if (offer.format == QLatin1String("text/plain")) {
            // As Qt reads text: no terminating NUL, and Latin-1 strings as UTF-8.
            if (bytes.endsWith('\0'))
                bytes.chop(1);
            if (offer.isXString && data.type == stringAtom)
                bytes = QString::fromLatin1(bytes).toUtf8();
        }
        read[std::size_t(offer.order)] = bytes;
    }
    std::vector<const Offer*> byOrder(offers.size());
    for (const Offer& offer : offers)
        byOrder[std::size_t(offer.order)] = &offer;
    for (std::size_t i = 0; i < byOrder.size(); ++i) {
        if (read[i])
            contents.formats.append({byOrder[i]->format, *read[i]});
    }
    return contents;
}

} // namespace pimsel
