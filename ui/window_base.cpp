#include "ui/window_base.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/log.h"
#include "ui/skin.h"
#include "ui/tray_icon.h"

const char kNotifyClick[] = "click";
const char kNotifySelectChanged[] = "selectchanged";
const char kNotifyItemSelect[] = "itemselect";
const char kNotifyItemClick[] = "itemclick";
const char kNotifySetFocus[] = "setfocus";
const char kNotifyKillFocus[] = "killfocus";
const char kNotifyTextChanged[] = "textchanged";
const char kNotifyReturn[] = "return";
const char kNotifyDropDown[] = "dropdown";

namespace {

MissingControlHandler& MissingHandler() {
    static MissingControlHandler handler;
    return handler;
}

// The combo box whose drop-down list a view belongs to.
const char kComboOfView[] = "talvoraComboOfView";

}  // namespace

void SetMissingControlHandler(MissingControlHandler handler) {
    MissingHandler() = std::move(handler);
}

WindowBase::WindowBase(QWidget* parent) : QWidget(parent) {
    target_ = std::make_unique<MessageTarget>(
        this, [this](const AppMessage& message) { HandleCustomMessage(message); });
}

WindowBase::~WindowBase() {
    // Stop deliveries before the derived parts are gone.
    target_.reset();
    if (modalLoop_) modalLoop_->quit();
}

int WindowBase::Create() {
    if (root_) return 0;
    root_ = LoadLayout(GetSkinFile(), this);
    if (!root_) return -1;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(root_);
    if (!root_->windowTitle().isEmpty()) setWindowTitle(root_->windowTitle());
    resize(root_->size());
    installEventFilter(this);
    WireControls();
    InitWindow();
    return 0;
}

void WindowBase::WireControls() {
    const QList<QWidget*> widgets = root_->findChildren<QWidget*>();
    WireControl(root_);
    for (QWidget* w : widgets) WireControl(w);
}

void WindowBase::WireControl(QWidget* w) {
    // Every widget may hold the keyboard focus; keys are looked at where they arrive.
    w->installEventFilter(this);
    if (w->objectName().isEmpty() || w->objectName().startsWith("qt_")) return;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, button] { Emit(kNotifyClick, button); });
        if (button->isCheckable()) {
            connect(button, &QAbstractButton::toggled, this,
                    [this, button] { Emit(kNotifySelectChanged, button); });
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        connect(combo, QOverload<int>::of(&QComboBox::activated), this,
                [this, combo] { Emit(kNotifyItemSelect, combo); });
        combo->view()->setProperty(kComboOfView, QVariant::fromValue<QObject*>(combo));
        combo->view()->installEventFilter(this);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        connect(edit, &QLineEdit::textEdited, this,
                [this, edit] { Emit(kNotifyTextChanged, edit); });
        connect(edit, &QLineEdit::returnPressed, this, [this, edit] { Emit(kNotifyReturn, edit); });
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        connect(list, &QListWidget::itemClicked, this,
                [this, list] { Emit(kNotifyItemClick, list); });
        connect(list, &QListWidget::currentRowChanged, this,
                [this, list] { Emit(kNotifyItemSelect, list); });
    } else if (auto* stack = qobject_cast<QStackedWidget*>(w)) {
        connect(stack, &QStackedWidget::currentChanged, this,
                [this, stack] { Emit(kNotifySelectChanged, stack); });
    } else if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
        connect(tabs, &QTabWidget::currentChanged, this,
                [this, tabs] { Emit(kNotifySelectChanged, tabs); });
    }
}

void WindowBase::Emit(const char* type, QObject* sender) {
    Notify(QString::fromLatin1(type), sender->objectName());
}

void WindowBase::ReportMissingControl(const char* name, const char* type) const {
    QString layout = GetSkinFile();
    WriteLog("control not found: %s (%s) in %s\r\n", name, type, layout.toUtf8().constData());
    if (MissingHandler()) MissingHandler()(layout, QString::fromUtf8(name));
}

void WindowBase::SetCaptionArea(QWidget* area) {
    if (!area) return;
    caption_ = area;
    area->installEventFilter(this);
}

bool WindowBase::eventFilter(QObject* watched, QEvent* event) {
    if (caption_ && watched == caption_) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
            dragging_ = true;
            dragOffset_ = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
        } else if (event->type() == QEvent::MouseMove && dragging_) {
            move(mouse->globalPosition().toPoint() - dragOffset_);
        } else if (event->type() == QEvent::MouseButtonRelease) {
            dragging_ = false;
        }
    }
    switch (event->type()) {
        case QEvent::KeyPress: {
            // A key the focus widget ignores climbs to its parents; look at it once.
            // Keys of an open drop-down list or menu belong to it.
            if (QApplication::activePopupWidget()) break;
            QWidget* focus = QApplication::focusWidget();
            bool first = focus ? watched == focus : watched == this;
            if (first && PreTranslateKey(static_cast<QKeyEvent*>(event))) return true;
            break;
        }
        case QEvent::FocusIn:
        case QEvent::FocusOut: {
            auto* w = qobject_cast<QWidget*>(watched);
            if (!w || w == this || w->objectName().isEmpty()) break;
            // Focus leaving for a pop-up or another window is not the user leaving the control.
            Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) break;
            Emit(event->type() == QEvent::FocusIn ? kNotifySetFocus : kNotifyKillFocus, w);
            break;
        }
        case QEvent::Show: {
            QVariant combo = watched->property(kComboOfView);
            if (combo.isValid()) Emit(kNotifyDropDown, combo.value<QObject*>());
            break;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void WindowBase::closeEvent(QCloseEvent* event) {
    // Hiding, not destroying: the owner decides the window's life.
    event->ignore();
    OnSystemClose();
}

int WindowBase::ShowModal() {
    if (!root_ && Create() != 0) return -1;
    setWindowModality(Qt::ApplicationModal);
    modalResult_ = 0;
    ShowAndBringToFront();
    QEventLoop loop;
    modalLoop_ = &loop;
    loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;
    return modalResult_;
}

void WindowBase::Close(int result) {
    modalResult_ = result;
    hide();
    if (modalLoop_) modalLoop_->quit();
}

void WindowBase::Minimize() {
    showMinimized();
}

void WindowBase::HideWindow() {
    if (TrayAvailable()) {
        hide();
    } else {
        showMinimized();
    }
}

void WindowBase::ShowAndBringToFront() {
    BringToFront(this);
}

void BringToFront(QWidget* window) {
    if (window->isMinimized()) {
        window->showNormal();
    } else {
        window->show();
    }
    window->raise();
    window->activateWindow();
}
