#include "ui/message_box_qt.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "core/message_box.h"
#include "ui/message_target.h"

namespace {

int ShowOnUiThread(AppWindow owner, const std::wstring& text, const std::wstring& title,
                   unsigned flags) {
    QMessageBox box(MessageTarget::WidgetFor(owner));
    // The look of the program's own windows, whatever the owner's style.
    box.setStyleSheet(QStringLiteral(
        "QMessageBox { background: #FFFFFF; border: 1px solid #DDE2E8; }"
        "QMessageBox QLabel { font-family: \"WenQuanYi Micro Hei\"; font-size: 14px;"
        " color: #333333; }"
        "QMessageBox QPushButton { font-family: \"WenQuanYi Micro Hei\"; font-size: 13px;"
        " min-width: 76px; min-height: 30px; padding: 0px 12px; border-radius: 4px;"
        " border: 1px solid #DDE2E8; background: #FFFFFF; color: #333333; }"
        "QMessageBox QPushButton:hover { border: 1px solid #01BB71; color: #01BB71; }"
        "QMessageBox QPushButton:default { background: #01BB71; border: none; color: #FFFFFF; }"
        "QMessageBox QPushButton:default:hover { background: #13C981; }"));
    box.setWindowTitle(QString::fromStdWString(title));
    box.setText(QString::fromStdWString(text));
    switch (flags & 0xF0) {
        case kMbIconError:
            box.setIcon(QMessageBox::Critical);
            break;
        case kMbIconQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case kMbIconWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case kMbIconInfo:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            break;
    }
    switch (flags & 0xF) {
        case kMbYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
            box.button(QMessageBox::No)->setText(QStringLiteral("否"));
            break;
        case kMbOkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
            box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
            break;
    }
    // Text only, like the buttons of the program's windows.
    for (QAbstractButton* button : box.buttons()) button->setIcon(QIcon());
    switch (box.exec()) {
        case QMessageBox::Yes:
            return kIdYes;
        case QMessageBox::No:
            return kIdNo;
        case QMessageBox::Ok:
            return kIdOk;
        default:
            return kIdCancel;
    }
}

// The window's close command on every box on show with that title.
void CloseBoxesTitled(const std::wstring& title) {
    const QString wanted = QString::fromStdWString(title);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box && box->isVisible() && box->windowTitle() == wanted) box->close();
    }
}

}  // namespace

void InstallQtMessageBoxHandler() {
    // Workers' boxes are queued to the UI thread; the core waits for their answers in a
    // way a UI thread joining that worker can cancel.
    SetMessageBoxHandler(ShowOnUiThread, [](std::function<void()> task) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app) QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
    });
    SetMessageBoxCloser(CloseBoxesTitled);
}
