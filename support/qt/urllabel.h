#pragma once
// TUrlLabel: a label that behaves as a web link. It shows its caption (or its address
// when the caption is empty) underlined under the hand pointer, lights up in the
// highlight colour while the pointer is over it, and on a click hands its address to
// the user's default handler, beeping when that fails.
#include <QLabel>
#include <QTimer>
#include <cstdint>
#include <string>

// Colours as 32-bit values: red in the low byte, then green, then blue.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clPurple = 0x800080;
// Stands for the font's current colour when assigned to a colour property.
inline constexpr TColor clNone = 0x1FFFFFFF;

QColor ColorToQColor(TColor color);
TColor QColorToColor(const QColor& color);

class TUrlLabel : public QLabel {
    Q_OBJECT

  public:
    // Marks that no normal colour has been captured yet.
    static constexpr TColor kNoSavedColor = 0x2000000;
    static constexpr int kHoverInterval = 100;  // ms
    // The address handed to the handler is cut to this many bytes.
    static constexpr size_t kMaxUrlBytes = 1023;

    explicit TUrlLabel(QWidget* parent = nullptr);

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    const std::string& URL() const { return url_; }
    void SetURL(const std::string& url);

    TColor HighlightColor() const { return highlightColor_; }
    void SetHighlightColor(TColor color);
    TColor VisitedColor() const { return visitedColor_; }
    void SetVisitedColor(TColor color);
    bool UseVisitedColor() const { return useVisitedColor_; }
    void SetUseVisitedColor(bool use) { useVisitedColor_ = use; }
    bool UnderlineURL() const { return font().underline(); }
    void SetUnderlineURL(bool underline);

    // The colour the text is painted in: the palette's WindowText (a style sheet
    // colour would hide every change made here).
    TColor FontColor() const;
    void SetFontColor(TColor color);

    TColor SavedColor() const { return savedColor_; }
    // Present only while the label is lit.
    QTimer* HoverTimer() const { return hoverTimer_; }

    // Called by the owner once its layout is loaded.
    void Loaded() { savedColor_ = kNoSavedColor; }
    // Opens the address, then reports the click, then applies the visited colour.
    void Click();

  signals:
    void clicked();
    void mouseMoved(const QPoint& pos);

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void ShowText();
    void HoverTick();

    std::string caption_;
    std::string url_;
    TColor highlightColor_ = clRed;
    TColor visitedColor_ = clBlack;
    bool useVisitedColor_ = false;
    TColor savedColor_ = kNoSavedColor;
    QTimer* hoverTimer_ = nullptr;
};
