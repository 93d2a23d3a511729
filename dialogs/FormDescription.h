#pragma once
// Dialog layouts as data. Each dialog declares its window and children in a
// table (name, kind, parent, bounds, visibility, tab order, text, font,
// colours) and builds itself from it; the classes keep only their handlers.
// All bounds and font sizes are logical pixels (designed for 96 dpi), so Qt's
// device-pixel-ratio scaling enlarges the whole layout uniformly.
#include <QColor>
#include <QHash>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>
#include <span>

class QAbstractButton;
class QKeyEvent;
class QWidget;

namespace hakop::form {

enum class Kind {
    Panel,   // flat coloured area holding other controls; never takes the focus
    Picture, // a Qt resource image, drawn opaque at 1:1
    Label,   // one line of text on its parent's background
    Button,  // push button; "&" in its caption marks the access key
    Memo,    // read-only, selectable multi-line text without scroll bars
};

struct Font {
    const char* family = nullptr; // nullptr: the form's default font
    int pixelSize = 0;            // character (em) height in logical pixels
    bool bold = false;
};

struct Control {
    const char* name;
    Kind kind;
    const char* parent; // nullptr: the form itself
    QRect bounds;       // relative to the parent's client area
    bool visible = true;
    int tabOrder = -1;  // -1: not a tab stop
    const char* text = nullptr; // caption, label or memo text, or picture resource path
    Font font = {};
    std::optional<QRgb> textColour = {};
    std::optional<QRgb> background = {};
    bool sizeToContent = false; // pictures take their image's size, labels their text's
};

struct Form {
    const char* title;
    QSize client;
    QRgb background;
    Font font;
    std::span<const Control> controls;
};

// The family names the layouts ask for, and the installed fonts that draw
// them. Registered once per process; safe to call again.
inline constexpr const char* japaneseUiFamily = "ＭＳ Ｐゴシック";
inline constexpr const char* westernUiFamily = "Arial";
void registerFontSubstitutions();

// Turns 'form' into a fixed-size dialog window as described and creates its
// children. Returns the children by name.
QHash<QString, QWidget*> build(QWidget& form, const Form& description);

// The access-key letter of a caption ("閉じる(&C)" -> 'C'), or a null QChar.
QChar accessKey(const QString& caption);

// True for a key press that may fire an access key: a letter with no
// modifiers but Shift and Alt (Shift for upper case, Alt the usual way).
bool isAccessKeyPress(const QKeyEvent& event);

// Clicks the first visible, enabled button whose access key is the pressed
// letter (either case). Returns whether one was clicked.
bool pressAccessKey(const QKeyEvent& event, std::span<QAbstractButton* const> buttons);

// Enter, Return or keypad Enter with no modifiers other than the keypad's.
bool isEnterPress(const QKeyEvent& event);
// Alt+F4: the close request window managers usually bind, handled by the
// dialog itself when no window manager takes it first.
bool isCloseRequestPress(const QKeyEvent& event);

} // namespace hakop::form
