// What the backup windows need to run against real parts: the demo Wine prefix, the
// object store, the local service with the demo agency signed in, and the settings
// that point uploads at the store. Also the helpers that read the windows' rows by
// control name.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>

#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

class QLabel;
class QWidget;

namespace backuptest {

class WindowEnv {
public:
    WindowEnv();
    ~WindowEnv();
    // Writes the prefix (one company `largeBytes` larger, or `companies` generated
    // ones), signs in and detects the invoicing software. False with a reason in `error`.
    bool Start(std::string* error, size_t largeBytes = 0, int companies = 0);

    testsupport::ScopedAppDir app;
    testsupport::TempDir prefix{"prefix"};
    testsupport::ScopedWinePrefix scoped;
    testsupport::ObjectStore store;
    testsupport::DevService service;

private:
    bool obsUp_ = false;
};

// The row widgets of a window's "kpsjList" on screen, in list order (all of them for
// lists that fit the window).
QList<QWidget*> Rows(QWidget* window);
// Column 0 to 11 of a row (the labels named in frame_controls.h).
QLabel* Cell(QWidget* row, int column);
QString CellText(QWidget* row, int column);
// The number of rows whose job state column reads `text`.
int RowsWithJobState(QWidget* window, const QString& text);

// Answers the choice dialog when it shows (it runs in its own modal loop): each answer
// names the button to click and whether to check the remember box first; `seen` runs
// with the dialog before the click.
class ChoiceAnswerer : public QObject {
public:
    struct Answer {
        const char* button;
        bool remember;
    };
    ChoiceAnswerer();
    std::deque<Answer> answers;
    std::function<void(QWidget* dialog)> seen;
    std::vector<QString> captions;  // of every dialog answered
    int unanswered = 0;             // dialogs that showed with no answer left (cancelled)

private:
    void Poll();
    QTimer timer_;
};

}  // namespace backuptest
