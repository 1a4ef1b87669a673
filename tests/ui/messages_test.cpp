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
#include "ui/message_box_qt.h"
#include "ui/message_target.h"

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

TEST(MessageBoxes, UiThreadJoiningAWorkerThatAsksNeverDeadlocks) {
    InstallQtMessageBoxHandler();
    TakeShownMessageBoxes();
    // The worker's question is queued to the UI thread, which is about to block in the
    // join and so can never show it.
    std::atomic<bool> asking{false};
    std::atomic<int> answer{0};
    std::thread worker([&] {
        asking = true;
        answer = AppMessageBox(0, L"确定恢复吗？", kAppTitle, kMbYesNo | kMbIconQuestion);
        // A second question while the UI thread is still joining is answered at once.
        if (answer == kIdNo) answer = AppMessageBox(0, L"再问一次", kAppTitle, kMbOkCancel);
    });
    while (!asking) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    JoinWorker(worker);
    EXPECT_EQ(answer.load(), kIdCancel);
    // The abandoned question is not shown later either.
    bool shownLate = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownLate = true;
            box->reject();
        }
    });
    watch.start(10);
    QTest::qWait(200);
    EXPECT_FALSE(shownLate);
    EXPECT_EQ(TakeShownMessageBoxes().size(), 2u);

    // Once the handler is gone (after the event loop), workers get the no-change answer.
    SetMessageBoxHandler(nullptr);
    std::thread late([&] { answer = AppMessageBox(0, L"x", kAppTitle, kMbYesNo); });
    late.join();
    EXPECT_EQ(answer.load(), kIdNo);
}
