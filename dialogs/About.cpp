#include "About.h"

#include "FormDescription.h"
#include "HakopVersion.h"
#include "platform/Failure.h"
#include "WindowPlacement.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

#include <array>

namespace hakop {

TAboutForm* AboutForm = nullptr;

namespace {

using form::Control;
using form::Kind;

constexpr QRgb yellow = 0xffffff00;
constexpr QRgb blue = 0xff0000ff;

// Three lines in view; the three empty lines keep the dedication below the
// fold until the reader scrolls.
constexpr const char* memoText =
    "HAKOP " HAKOP_VERSION_SHORT "\n"
    "Copyright (C) The HAKOP developers\n"
    "All rights reserved.\n"
    "\n"
    "\n"
    "\n"
    "For everyone who ever forgot\n"
    "what they came to set up.";

constexpr Control aboutControls[] = {
    {.name = "Image1", .kind = Kind::Picture, .parent = nullptr, .bounds = {0, 0, 306, 65},
     .text = ":/dialogs/Banner.png", .sizeToContent = true},
    {.name = "Button1", .kind = Kind::Button, .parent = nullptr, .bounds = {114, 144, 75, 25}, .tabOrder = 0,
     .text = "&OK"},
    {.name = "Memo1", .kind = Kind::Memo, .parent = nullptr, .bounds = {0, 65, 306, 72}, .tabOrder = 1,
     .text = memoText, .font = {form::westernUiFamily, 12, true}, .textColour = blue, .background = yellow},
};

constexpr form::Form aboutDescription{
    .title = "About HAKOP",
    .client = {306, 180},
    .background = yellow,
    .font = {form::japaneseUiFamily, 12, false},
    .controls = aboutControls,
};

} // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    const auto byName = form::build(*this, aboutDescription);
    Image1 = qobject_cast<QLabel*>(byName.value(QStringLiteral("Image1")));
    Button1 = qobject_cast<QPushButton*>(byName.value(QStringLiteral("Button1")));
    Memo1 = qobject_cast<QTextEdit*>(byName.value(QStringLiteral("Memo1")));
    HAKOP_REQUIRE(Image1 != nullptr && Button1 != nullptr && Memo1 != nullptr);

    setModal(true);
    setSizeGripEnabled(false);
    connect(Button1, &QPushButton::clicked, this, &TAboutForm::reject);
    Button1->installEventFilter(this);
    m_placement = new WindowPlacement(*this);
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::reject()
{
    // Whatever closed the box — the button, Esc, the access key, the close
    // box — the opener gets the same answer.
    done(closedResult);
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Button1 && event->type() == QEvent::KeyPress
        && form::isEnterPress(*static_cast<QKeyEvent*>(event))) {
        Button1->click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutForm::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool inMemo = focusWidget() == Memo1;
    if (form::isCloseRequestPress(*event)) {
        reject();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        // Esc is the cancel button's key; with a modifier it is something
        // else. The read-only text has no use for Esc, so it closes from
        // there too.
        if (mods == Qt::NoModifier)
            reject();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Only the focused button takes Enter; there is no default button.
        return;
    default:
        break;
    }
    // A plain letter typed into the text box belongs to the text box; with
    // Alt it is an access key wherever the focus is.
    const bool accessAllowed = !inMemo || (mods & Qt::AltModifier);
    const std::array<QAbstractButton*, 1> buttons{Button1};
    if (accessAllowed && form::pressAccessKey(*event, buttons))
        return;
    QDialog::keyPressEvent(event);
}

void TAboutForm::showEvent(QShowEvent* event)
{
    // The control that had the focus when the box last closed has it again;
    // the first time that is Button1, first in tab order.
    QWidget* focus = m_lastFocus != nullptr ? m_lastFocus.data() : static_cast<QWidget*>(Button1);
    focus->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
    // Window managers focus a new dialog themselves; without one the box
    // would open with the input still aimed at the (blocked) settings dialog.
    activateWindow();
}

void TAboutForm::hideEvent(QHideEvent* event)
{
    if (QWidget* focus = focusWidget(); focus != nullptr && isAncestorOf(focus))
        m_lastFocus = focus;
    QDialog::hideEvent(event);
}

} // namespace hakop
