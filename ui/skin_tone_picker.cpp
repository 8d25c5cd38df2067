#include "ui/skin_tone_picker.h"

#include "engine/settings_store.h"
#include "ui/palette.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace pimsel {

namespace {

constexpr int swatchSize = 34;

class Swatch : public QAbstractButton {
public:
    Swatch(SkinTone tone, QWidget* parent)
        : QAbstractButton(parent) {
        setText(preview(tone));
        setCheckable(true);
        setFixedSize(swatchSize, swatchSize);
        setCursor(Qt::PointingHandCursor);
        setToolTip(SkinTonePicker::toneName(tone));
        setAccessibleName(SkinTonePicker::toneName(tone));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const bool on = isChecked();
        const qreal inset = on ? 1.0 : 0.5;
        p.setBrush(on ? palette::accentWash() : palette::withOpacity(palette::cream, 0.06));
        p.setPen(QPen(on ? palette::accent : palette::withOpacity(palette::cream, 0.18), on ? 2 : 1));
        p.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 8, 8);
        p.setFont(palette::emojiFont(22));
        p.setPen(palette::cream);
        p.drawText(rect(), Qt::AlignCenter, text());
    }
};

} // namespace

SkinTonePicker::SkinTonePicker(SettingsStore& settings, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_name(new QLabel(this)) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    for (const SkinTone tone : allSkinTones) {
        auto* swatch = new Swatch(tone, this);
        connect(swatch, &QAbstractButton::clicked, this, [this, tone] {
            m_settings.setSkinTone(tone);
            reread();
        });
        m_buttons.append(swatch);
        row->addWidget(swatch);
    }
    row->addStretch(1);
    m_name->setFont(palette::textFont(12));
    m_name->setProperty("role", QStringLiteral("caption"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(row);
    layout->addWidget(m_name);
    connect(&m_settings, &SettingsStore::skinToneChanged, this, &SkinTonePicker::reread);
    reread();
}

QString SkinTonePicker::toneName(SkinTone tone) {
    switch (tone) {
    case SkinTone::yellow:
        return tr("Default");
    case SkinTone::light:
        return tr("Light");
    case SkinTone::mediumLight:
        return tr("Medium-Light");
    case SkinTone::medium:
        return tr("Medium");
    case SkinTone::mediumDark:
        return tr("Medium-Dark");
    case SkinTone::dark:
        return tr("Dark");
    }
    return {};
}

QAbstractButton* SkinTonePicker::button(SkinTone tone) const {
    return m_buttons.value(position(tone));
}

QString SkinTonePicker::selectedName() const {
    return m_name->text();
}

void SkinTonePicker::reread() {
    const SkinTone stored = m_settings.skinTone();
    for (const SkinTone tone : allSkinTones)
        m_buttons.at(position(tone))->setChecked(tone == stored);
    m_name->setText(toneName(stored));
}

} // namespace pimsel
