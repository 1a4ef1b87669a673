// The base every window of the program is written against: a layout from the skin
// folder, controls found by name, notifications by type and control name, numbered
// messages from workers, and modal showing with an integer result.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "ui/message_target.h"

class QEventLoop;
class QKeyEvent;

// Notification types, as windows compare them.
extern const char kNotifyClick[];          // "click"
extern const char kNotifySelectChanged[];  // "selectchanged"
extern const char kNotifyItemSelect[];     // "itemselect"
extern const char kNotifyItemClick[];      // "itemclick"
extern const char kNotifySetFocus[];       // "setfocus"
extern const char kNotifyKillFocus[];      // "killfocus"
extern const char kNotifyTextChanged[];    // "textchanged"
extern const char kNotifyReturn[];         // "return"
extern const char kNotifyDropDown[];       // "dropdown"

// Called when a window asks for a control its layout lacks (after the log line).
// The test runner installs one that fails the running test.
using MissingControlHandler = std::function<void(const QString& layout, const QString& name)>;
void SetMissingControlHandler(MissingControlHandler handler);

class WindowBase : public QWidget {
    Q_OBJECT
public:
    explicit WindowBase(QWidget* parent = nullptr);
    ~WindowBase() override;

    // Loads the layout named by GetSkinFile, wires its controls and runs InitWindow.
    // Returns 0, or -1 (logged) when the layout cannot be loaded.
    int Create();

    AppWindow handle() const { return target_->handle(); }
    QWidget* Root() const { return root_; }

    // Shows the window modally and returns the result given to Close.
    int ShowModal();
    // Closes the window; a running ShowModal returns `result`.
    void Close(int result = 1);
    void Minimize();
    // The frameless window moves when the left button drags `area` (its title area).
    void SetCaptionArea(QWidget* area);
    // Hides the window, or minimises it where the desktop has no tray to bring it back from.
    void HideWindow();
    void ShowAndBringToFront();

    // The named control of the expected type; null, a log line and a report to the
    // missing-control handler when the layout lacks it.
    template <typename T>
    T* FindControl(const char* name) const {
        T* control = nullptr;
        if (root_) {
            const QString wanted = QString::fromUtf8(name);
            control = root_->objectName() == wanted ? qobject_cast<T*>(root_)
                                                    : root_->findChild<T*>(wanted);
        }
        if (!control) ReportMissingControl(name, T::staticMetaObject.className());
        return control;
    }

protected:
    virtual QString GetSkinFile() const = 0;
    virtual void InitWindow() {}
    virtual void Notify(const QString& type, const QString& sender) {
        (void)type;
        (void)sender;
    }
    virtual void HandleCustomMessage(const AppMessage& message) { (void)message; }
    // Keys pressed anywhere in the window before the controls see them; true swallows the key.
    virtual bool PreTranslateKey(QKeyEvent* event) {
        (void)event;
        return false;
    }
    // The system close command (title bar, window manager); closes with result 1 by default.
    virtual void OnSystemClose() { Close(1); }

    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void WireControls();
    void WireControl(QWidget* control);
    void Emit(const char* type, QObject* sender);
    void ReportMissingControl(const char* name, const char* type) const;

    std::unique_ptr<MessageTarget> target_;
    QWidget* root_ = nullptr;
    QPointer<QEventLoop> modalLoop_;
    QPointer<QWidget> caption_;
    bool dragging_ = false;
    QPoint dragOffset_;
    int modalResult_ = 0;
};

// Shows a window (restoring it when minimised or hidden), raises it and gives it focus.
void BringToFront(QWidget* window);
