#include "FormDescription.h"

#include "SharpPicture.h"
#include "platform/Failure.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextOption>

#include <algorithm>
#include <vector>

namespace hakop::form {

void registerFontSubstitutions()
{
    // Debian's fontconfig maps Arial to Liberation Sans but knows nothing of
    // the Japanese UI family, which would otherwise fall back to whatever
    // sans font comes first and may lack the kana.
    static const bool done = [] {
        QFont::insertSubstitution(QString::fromUtf8(japaneseUiFamily), QStringLiteral("IPAPGothic"));
        QFont::insertSubstitution(QString::fromUtf8(westernUiFamily), QStringLiteral("Liberation Sans"));
        return true;
    }();
    (void)done;
}

namespace {

QFont fontFor(const Font& wanted, const QFont& fallback)
{
    if (wanted.family == nullptr)
        return fallback;
    QFont font(QString::fromUtf8(wanted.family));
    font.setPixelSize(wanted.pixelSize);
    font.setBold(wanted.bold);
    font.setStyleStrategy(QFont::PreferDefault);
    return font;
}

QWidget* makePanel(QWidget* parent)
{
    auto* panel = new QFrame(parent);
    panel->setFrameShape(QFrame::NoFrame);
    panel->setAutoFillBackground(true);
    return panel;
}

QWidget* makePicture(QWidget* parent, const Control& c)
{
    auto* picture = new SharpPicture(parent);
    picture->setAutoFillBackground(true);
    const QPixmap pixmap(QString::fromUtf8(c.text));
    picture->setPixmap(pixmap);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A missing picture keeps the declared bounds (an empty box) rather than
    // collapsing to nothing.
    if (c.sizeToContent && !pixmap.isNull())
        picture->setProperty("contentSize", pixmap.deviceIndependentSize().toSize());
    return picture;
}

QWidget* makeLabel(QWidget* parent, const Control& c)
{
    auto* label = new QLabel(QString::fromUtf8(c.text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setMargin(0);
    label->setIndent(0);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget* makeButton(QWidget* parent, const Control& c)
{
    auto* button = new QPushButton(QString::fromUtf8(c.text), parent);
    // Buttons keep the system's look on coloured dialogs.
    button->setPalette(QApplication::palette(button));
    button->setAutoDefault(false);
    button->setDefault(false);
    // The dialogs fire access keys themselves (plain letters as well as Alt,
    // and only while the button is visible), so Qt's own Alt shortcut would
    // press a second time. The "&" still draws the underline.
    button->setShortcut(QKeySequence());
    return button;
}

QWidget* makeMemo(QWidget* parent, const Control& c)
{
    auto* memo = new QTextEdit(parent);
    memo->setAcceptRichText(false);
    memo->setReadOnly(true);
    memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    memo->setTabChangesFocus(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setLineWrapMode(QTextEdit::WidgetWidth);
    memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    memo->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    memo->document()->setDocumentMargin(1);
    memo->setPlainText(QString::fromUtf8(c.text));
    QTextCursor all(memo->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    all.mergeBlockFormat(centred);
    memo->moveCursor(QTextCursor::Start);
    return memo;
}

void applyColours(QWidget* widget, const Control& c)
{
    QPalette palette = widget->palette();
    if (c.textColour) {
        const QColor colour = QColor::fromRgb(*c.textColour);
        palette.setColor(QPalette::WindowText, colour);
        palette.setColor(QPalette::Text, colour);
    }
    if (c.background) {
        const QColor colour = QColor::fromRgb(*c.background);
        palette.setColor(QPalette::Window, colour);
        palette.setColor(QPalette::Base, colour);
    }
    widget->setPalette(palette);
}

QRect boundsFor(QWidget* widget, const Control& c)
{
    QRect bounds = c.bounds;
    if (!c.sizeToContent)
        return bounds;
    if (c.kind == Kind::Label) {
        const QFontMetrics metrics(widget->font());
        const auto* label = static_cast<QLabel*>(widget);
        bounds.setSize(QSize(metrics.horizontalAdvance(label->text()), metrics.height()));
    } else if (const QSize size = widget->property("contentSize").toSize(); size.isValid()) {
        bounds.setSize(size);
    }
    return bounds;
}

} // namespace

QHash<QString, QWidget*> build(QWidget& form, const Form& d)
{
    registerFontSubstitutions();

    form.setWindowTitle(QString::fromUtf8(d.title));
    form.setFixedSize(d.client);
    QFont defaultFont = fontFor(d.font, form.font());
    form.setFont(defaultFont);
    QPalette palette = form.palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(d.background));
    form.setPalette(palette);
    form.setAutoFillBackground(true);

    QHash<QString, QWidget*> byName;
    std::vector<std::pair<int, QWidget*>> tabStops;
    for (const Control& c : d.controls) {
        QWidget* parent = c.parent != nullptr ? byName.value(QString::fromUtf8(c.parent)) : &form;
        HAKOP_REQUIRE(parent != nullptr); // parents are declared before their children
        QWidget* widget = nullptr;
        switch (c.kind) {
        case Kind::Panel: widget = makePanel(parent); break;
        case Kind::Picture: widget = makePicture(parent, c); break;
        case Kind::Label: widget = makeLabel(parent, c); break;
        case Kind::Button: widget = makeButton(parent, c); break;
        case Kind::Memo: widget = makeMemo(parent, c); break;
        }
        widget->setObjectName(QString::fromUtf8(c.name));
        if (c.font.family != nullptr)
            widget->setFont(fontFor(c.font, defaultFont));
        applyColours(widget, c);
        widget->setGeometry(boundsFor(widget, c));
        widget->setFocusPolicy(c.tabOrder >= 0 ? Qt::StrongFocus : Qt::NoFocus);
        if (c.tabOrder >= 0)
            tabStops.emplace_back(c.tabOrder, widget);
        // Children of a window that is not yet shown are shown with it unless
        // hidden explicitly.
        widget->setVisible(c.visible);
        byName.insert(widget->objectName(), widget);
    }

    std::stable_sort(tabStops.begin(), tabStops.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabStops.size(); ++i)
        QWidget::setTabOrder(tabStops[i - 1].second, tabStops[i].second);
    return byName;
}

QChar accessKey(const QString& caption)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] != u'&')
            return caption[i + 1].toUpper();
        ++i; // "&&" is a literal ampersand
    }
    return {};
}

bool isAccessKeyPress(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    if ((mods & ~(Qt::ShiftModifier | Qt::AltModifier)) != Qt::NoModifier)
        return false;
    return event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z;
}

bool pressAccessKey(const QKeyEvent& event, std::span<QAbstractButton* const> buttons)
{
    if (!isAccessKeyPress(event))
        return false;
    const QChar letter = QChar(u'A' + (event.key() - Qt::Key_A));
    for (QAbstractButton* button : buttons) {
        if (button->isVisible() && button->isEnabled() && accessKey(button->text()) == letter) {
            button->click();
            return true;
        }
    }
    return false;
}

bool isEnterPress(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) && mods == Qt::NoModifier;
}

bool isCloseRequestPress(const QKeyEvent& event)
{
    return event.key() == Qt::Key_F4 && (event.modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier;
}

} // namespace hakop::form
