#include "platform/clipboard_manager.h"

#include "platform/selection_reader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace pimsel {

Q_LOGGING_CATEGORY(clipboardLog, "clipboard", QtInfoMsg)

namespace {

// Clipboard managers that keep a history (and those that sync it) leave out what carries this hint.
constexpr auto transientHintFormat = "x-kde-passwordManagerHint";

std::unique_ptr<QMimeData> copyOf(const QMimeData& source) {
    auto copy = std::make_unique<QMimeData>();
    const QStringList formats = source.formats();
    for (const QString& format : formats) {
        if (ClipboardManager::isBookkeepingFormat(format))
            continue;
        const QByteArray bytes = source.data(format);
        if (!bytes.isEmpty())
            copy->setData(format, bytes);
    }
    if (copy->formats().isEmpty())
        return nullptr;
    return copy;
}

} // namespace

ClipboardManager::ClipboardManager(QObject* parent)
    : QObject(parent) {}

ClipboardManager::~ClipboardManager() {
    if (m_lent)
        restore();
    if (m_reader.joinable())
        m_reader.join();
}

bool ClipboardManager::isBookkeepingFormat(const QString& format) {
    // "application/x-qt-image" is Qt's own alias for whichever image/* target the owner offers; kept,
    // it would make the restored clipboard offer every image format Qt can write, most of them empty.
    return format == QLatin1String("TARGETS") || format == QLatin1String("TIMESTAMP") ||
           format == QLatin1String("MULTIPLE") || format == QLatin1String("SAVE_TARGETS") ||
           format == QLatin1String("application/x-qt-image");
}

void ClipboardManager::save(std::function<void()> done) {
    if (done)
        m_waiting.push_back(std::move(done));
    if (m_isReading)
        return;
    m_saved.reset();
    QClipboard* board = QGuiApplication::clipboard();
    if (board->ownsClipboard()) {
        // Our own data is at hand; asked through the X server, this thread would have to answer itself.
        if (const QMimeData* own = board->mimeData(QClipboard::Clipboard))
            m_saved = copyOf(*own);
        finishRead({});
        return;
    }
    if (m_reader.joinable())
        m_reader.join(); // it posted its result before ending, so this does not wait
    m_isReading = true;
    m_reader = std::thread([this] {
        SelectionContents contents = readClipboardSelection(saveBudget);
        // Delivered through the event loop; the destructor joins this thread before the object goes.
        QMetaObject::invokeMethod(
            this,
            [this, contents = std::move(contents)] {
                auto copy = std::make_unique<QMimeData>();
                for (const auto& [format, bytes] : contents.formats)
                    copy->setData(format, bytes);
                m_saved = contents.formats.isEmpty() ? nullptr : std::move(copy);
                finishRead(contents);
            },
            Qt::QueuedConnection);
    });
}

void ClipboardManager::finishRead(const SelectionContents& contents) {
    m_isReading = false;
    if (contents.targetsUnanswered)
        qCWarning(clipboardLog, "The clipboard's owner did not answer within %lld ms: what it held is lost",
                  static_cast<long long>(saveBudget.count()));
    else if (!contents.unread.isEmpty())
        qCWarning(
            clipboardLog, "The clipboard's owner stopped answering: kept %s; lost %s",
            qPrintable(m_saved ? m_saved->formats().join(QLatin1String(", ")) : QStringLiteral("nothing")),
            qPrintable(contents.unread.join(QLatin1String(", "))));
    std::vector<std::function<void()>> waiting;
    waiting.swap(m_waiting);
    for (auto& done : waiting)
        done();
}

void ClipboardManager::lend(const QString& text) {
    auto data = std::make_unique<QMimeData>();
    data->setText(text);
    lend(std::move(data));
}

void ClipboardManager::lend(std::unique_ptr<QMimeData> data) {
    data->setData(QLatin1String(transientHintFormat), QByteArrayLiteral("secret"));
    m_lent = data.get();
    QGuiApplication::clipboard()->setMimeData(data.release(), QClipboard::Clipboard);
}

void ClipboardManager::restore() {
    QClipboard* board = QGuiApplication::clipboard();
    // Asks the X server who owns the selection; when it is still us this is our own data, never a
    // read from another application.
    const bool isStillLent = m_lent && board->mimeData(QClipboard::Clipboard) == m_lent;
    m_lent = nullptr;
    std::unique_ptr<QMimeData> saved = std::move(m_saved);
    if (!isStillLent) {
        qCInfo(clipboardLog, "The clipboard changed hands during the paste; the newer copy stays");
        return;
    }
    if (saved)
        board->setMimeData(saved.release(), QClipboard::Clipboard);
    else
        board->clear(QClipboard::Clipboard);
}

} // namespace pimsel
