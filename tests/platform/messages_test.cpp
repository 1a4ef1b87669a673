// Numbered messages and message boxes crossing from worker threads to the UI thread.
#include "core/messages.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <thread>

#include "core/message_box.h"
#include "platform/ui/message_box_qt.h"
#include "platform/ui/message_target.h"

namespace {

struct Received {
    unsigned id;
    std::wstring text;
    bool onUiThread;
};

}  // namespace

TEST(AppMessages, WorkerMessagesArriveOnTheUiThreadInOrder) {
    QWidget window;
    std::vector<Received> got;
    MessageTarget target(&window, [&](const AppMessage& m) {
        got.push_back({m.id, m.text, QThread::currentThread() == qApp->thread()});
    });
    std::thread worker([h = target.handle()] {
        std::wstring account = L"13800000000 已登录";
        PostAppMessageText(h, WM_LOGIN_RESULT, 1, account);
        account.assign(L"overwritten");  // the message holds its own copy
        PostAppMessage(h, WM_DOWNLOAD_PROGRESS, 3, 42);
    });
    worker.join();
    EXPECT_TRUE(got.empty());  // nothing runs on the worker
    QTRY_COMPARE(got.size(), size_t(2));
    EXPECT_EQ(got[0].id, unsigned(WM_LOGIN_RESULT));
    EXPECT_EQ(got[0].text, L"13800000000 已登录");
    EXPECT_TRUE(got[0].onUiThread);
    EXPECT_EQ(got[1].id, unsigned(WM_DOWNLOAD_PROGRESS));
}

TEST(AppMessages, MessagesToAGoneWindowAreDropped) {
    int delivered = 0;
    AppWindow handle;
    {
        QWidget window;
        MessageTarget target(&window, [&](const AppMessage&) { ++delivered; });
        handle = target.handle();
        EXPECT_TRUE(PostAppMessage(handle, WM_GO_HOME));  // queued, not yet handled
        EXPECT_EQ(MessageTarget::WidgetFor(handle), &window);
    }
    EXPECT_FALSE(PostAppMessage(handle, WM_GO_HOME));
    EXPECT_EQ(MessageTarget::WidgetFor(handle), nullptr);
    QTest::qWait(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 0);
}

TEST(MessageBoxes, WorkerWaitsForTheAnswerGivenOnTheUiThread) {
    InstallQtMessageBoxHandler();
    TakeShownMessageBoxes();
    QWidget owner;
    MessageTarget target(&owner, [](const AppMessage&) {});
    std::atomic<int> answer{0};
    std::thread worker([&] {
        answer =
            AppMessageBox(target.handle(), L"确定删除吗？", kAppTitle, kMbYesNo | kMbIconQuestion);
    });
    // The box runs its own loop on the UI thread; inspect and answer it from there.
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int answeredEarly = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll.stop();
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        answeredEarly = answer.load();
        box->button(QMessageBox::No)->click();
    });
    poll.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(answer.load() != 0, 10000);
    EXPECT_EQ(title, QStringLiteral("Talvora财税管家"));
    EXPECT_EQ(text, QStringLiteral("确定删除吗？"));
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(answeredEarly, 0);  // the worker was still waiting while the box was up
    worker.join();
    EXPECT_EQ(answer.load(), kIdNo);
    auto shown = TakeShownMessageBoxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].owner, target.handle());
}

TEST(MessageBoxes, PresetAnswerSkipsTheBox) {
    TakeShownMessageBoxes();
    SetNextMessageBoxAnswer(kIdYes);
    EXPECT_EQ(AppMessageBox(0, L"连接异常,请重试", kAppTitle, kMbOk | kMbIconError), kIdYes);
    auto shown = TakeShownMessageBoxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"连接异常,请重试");
    EXPECT_EQ(shown[0].flags, unsigned(kMbOk | kMbIconError));
}
