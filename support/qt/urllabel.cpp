#include "support/qt/urllabel.h"

#include <QMouseEvent>

#include "support/qt/DesktopSeams.h"
#include "support/qt/TextCodec.h"

QColor ColorToQColor(TColor color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

TColor QColorToColor(const QColor& color) {
    return static_cast<TColor>(color.red()) | static_cast<TColor>(color.green()) << 8 |
           static_cast<TColor>(color.blue()) << 16;
}

TUrlLabel::TUrlLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    // Moves without a pressed button must reach us for the hover.
    setMouseTracking(true);
    SetUnderlineURL(true);
}

void TUrlLabel::SetCaption(const std::string& caption) {
    caption_ = caption;
    ShowText();
}

void TUrlLabel::SetURL(const std::string& url) {
    url_ = url;
    ShowText();
}

void TUrlLabel::ShowText() {
    setText(DecodeText(caption_.empty() ? url_ : caption_));
}

void TUrlLabel::SetHighlightColor(TColor color) {
    highlightColor_ = color == clNone ? FontColor() : color;
    savedColor_ = kNoSavedColor;
}

void TUrlLabel::SetVisitedColor(TColor color) {
    visitedColor_ = color == clNone ? FontColor() : color;
    savedColor_ = kNoSavedColor;
}

void TUrlLabel::SetUnderlineURL(bool underline) {
    QFont f = font();
    f.setUnderline(underline);
    setFont(f);
}

TColor TUrlLabel::FontColor() const {
    return QColorToColor(palette().color(QPalette::WindowText));
}

void TUrlLabel::SetFontColor(TColor color) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, ColorToQColor(color));
    setPalette(p);
}

void TUrlLabel::mouseMoveEvent(QMouseEvent* event) {
    QLabel::mouseMoveEvent(event);
    emit mouseMoved(event->position().toPoint());
    if (hoverTimer_ || !rect().contains(event->position().toPoint())) return;
    if (savedColor_ == kNoSavedColor) savedColor_ = FontColor();
    SetFontColor(highlightColor_);
    hoverTimer_ = new QTimer(this);
    hoverTimer_->setInterval(kHoverInterval);
    connect(hoverTimer_, &QTimer::timeout, this, &TUrlLabel::HoverTick);
    hoverTimer_->start();
}

// Leaving is found by polling: a quick move out of the label may send no event.
void TUrlLabel::HoverTick() {
    if (rect().contains(mapFromGlobal(PointerPosition()))) return;
    // Freed once the tick that runs now has returned.
    hoverTimer_->stop();
    hoverTimer_->deleteLater();
    hoverTimer_ = nullptr;
    if (savedColor_ != kNoSavedColor) SetFontColor(savedColor_);
    update();
}

// Taking the press makes the release come to us rather than to the parent.
void TUrlLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Click();
}

void TUrlLabel::Click() {
    if (!url_.empty()) {
        const std::string address = url_.substr(0, kMaxUrlBytes);
        // A failed open shows only as the beep; the label does not change.
        OpenUrlWithDefaultHandler(DecodeText(address), [](bool ok) {
            if (!ok) DefaultBeep();
        });
    }
    emit clicked();
    if (useVisitedColor_) savedColor_ = visitedColor_;
}
