#include "Setup.h"

#include "About.h"
#include "FormDescription.h"
#include "WindowPlacement.h"
#include "platform/Failure.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QShowEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <array>

namespace hakop {

TSetupForm* SetupForm = nullptr;

namespace {

using form::Control;
using form::Kind;

constexpr QRgb black = 0xff000000;
constexpr QRgb white = 0xffffffff;
constexpr form::Font labelFont{form::japaneseUiFamily, 13, true};

// Two panels of the same black lie on top of each other: the first scene
// shows Panel1, the second Panel2 with the buttons.
constexpr Control setupControls[] = {
    {.name = "Panel1", .kind = Kind::Panel, .parent = nullptr, .bounds = {8, 8, 265, 90},
     .background = black},
    {.name = "Image1", .kind = Kind::Picture, .parent = "Panel1", .bounds = {8, 8, 30, 40},
     .text = ":/dialogs/PictureA.png", .sizeToContent = true},
    {.name = "Label1", .kind = Kind::Label, .parent = "Panel1", .bounds = {48, 24, 42, 13},
     .text = "設定？", .font = labelFont, .textColour = white, .sizeToContent = true},
    {.name = "Panel2", .kind = Kind::Panel, .parent = nullptr, .bounds = {8, 8, 265, 90}, .visible = false,
     .background = black},
    {.name = "Image2", .kind = Kind::Picture, .parent = "Panel2", .bounds = {8, 8, 30, 40},
     .text = ":/dialogs/PictureB.png", .sizeToContent = true},
    {.name = "Label2", .kind = Kind::Label, .parent = "Panel2", .bounds = {48, 24, 151, 13},
     .text = "あ、また忘れちった(滝汗)", .font = labelFont, .textColour = white, .sizeToContent = true},
    {.name = "Button1", .kind = Kind::Button, .parent = "Panel2", .bounds = {24, 56, 75, 25}, .tabOrder = 0,
     .text = "閉じる(&C)"},
    {.name = "Button2", .kind = Kind::Button, .parent = "Panel2", .bounds = {168, 56, 75, 25}, .tabOrder = 1,
     .text = "ﾊﾞｰｼﾞｮﾝ(&A)"},
};

constexpr form::Form setupDescription{
    .title = "設定...?",
    .client = {280, 110},
    .background = black,
    .font = {form::japaneseUiFamily, 12, false},
    .controls = setupControls,
};

constexpr int timer1Interval = 2000;

template <typename T>
T* child(const QHash<QString, QWidget*>& byName, const char* name)
{
    auto* widget = qobject_cast<T*>(byName.value(QString::fromLatin1(name)));
    HAKOP_REQUIRE(widget != nullptr);
    return widget;
}

} // namespace

TSetupForm::TSetupForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    const auto byName = form::build(*this, setupDescription);
    Panel1 = child<QWidget>(byName, "Panel1");
    Image1 = child<QLabel>(byName, "Image1");
    Label1 = child<QLabel>(byName, "Label1");
    Panel2 = child<QWidget>(byName, "Panel2");
    Image2 = child<QLabel>(byName, "Image2");
    Label2 = child<QLabel>(byName, "Label2");
    Button1 = child<QPushButton>(byName, "Button1");
    Button2 = child<QPushButton>(byName, "Button2");

    connect(Button1, &QPushButton::clicked, this, &TSetupForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TSetupForm::Button2Click);
    Button1->installEventFilter(this);
    Button2->installEventFilter(this);
    m_placement = new WindowPlacement(*this);

    // The timer counts from creation, before the dialog is on screen.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(timer1Interval);
    // A coarse timer may fire up to a twentieth early; the swap comes after
    // two seconds, not 1.9.
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &TSetupForm::Timer1Timer);
    startTimerOrFail(*Timer1);
}

TSetupForm::~TSetupForm() = default;

void TSetupForm::Timer1Timer()
{
    Panel1->hide();
    Panel2->show();
    Timer1->stop();
}

void TSetupForm::Button1Click()
{
    close();
}

void TSetupForm::Button2Click()
{
    if (AboutForm == nullptr)
        return;
    // Keeps the box above the dialog on window managers that stack by
    // transient-for.
    AboutForm->winId();
    if (QWindow* handle = AboutForm->windowHandle())
        handle->setTransientParent(windowHandle());
    AboutForm->exec(); // always 2; nothing to act on
    // Take the input back explicitly: without a window manager nobody else
    // hands it over when the box disappears. Activation also gives Button1
    // the focus when no button had it.
    raise();
    activateWindow();
}

bool TSetupForm::buttonKeyPress(QPushButton* button, QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (form::isEnterPress(*event)) {
        button->click();
        return true;
    }
    if (mods != Qt::NoModifier)
        return false;
    bool forward;
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down: forward = true; break;
    case Qt::Key_Left:
    case Qt::Key_Up: forward = false; break;
    default: return false;
    }
    // Arrows cycle through the buttons in tab order, like Tab without
    // leaving the button group.
    const std::array<QPushButton*, 2> order{Button1, Button2};
    const std::size_t at = button == Button1 ? 0 : 1;
    const std::size_t next = (at + (forward ? 1 : order.size() - 1)) % order.size();
    order[next]->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

bool TSetupForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == Button1 || watched == Button2))
        return buttonKeyPress(static_cast<QPushButton*>(watched), static_cast<QKeyEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

void TSetupForm::keyPressEvent(QKeyEvent* event)
{
    if (form::isCloseRequestPress(*event)) {
        close();
        return;
    }
    // Access keys act only while their buttons are on screen; a press in
    // the first scene is dropped, not kept for later.
    const std::array<QAbstractButton*, 2> buttons{Button1, Button2};
    if (form::pressAccessKey(*event, buttons))
        return;
    QWidget::keyPressEvent(event);
}

void TSetupForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A window manager focuses a new dialog itself; without one the keyboard
    // would follow the pointer, and C or Alt+F4 would work only while the
    // pointer happens to be over the dialog.
    if (!event->spontaneous())
        activateWindow();
}

void TSetupForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit closed();
}

} // namespace hakop
