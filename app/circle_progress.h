// A progress control drawn as a ring gauge: a background disc, a coloured sector from
// the bottom running clockwise, a white centre 10 pixels in, and the text over it.
#pragma once

#include <QColor>
#include <QProgressBar>
#include <QString>

class CCircleProgressUI : public QProgressBar {
    Q_OBJECT
    Q_PROPERTY(QColor bkColor READ BkColor WRITE SetBkColor)
    Q_PROPERTY(QColor foreColor READ ForeColor WRITE SetForeColor)
    Q_PROPERTY(QColor textColor READ TextColor WRITE SetTextColor)
    Q_PROPERTY(QString caption READ Text WRITE SetText)
public:
    explicit CCircleProgressUI(QWidget* parent = nullptr);

    static const char* GetClass() { return "CircleProgress"; }

    QColor BkColor() const { return bkColor_; }
    void SetBkColor(const QColor& color);
    QColor ForeColor() const { return foreColor_; }
    void SetForeColor(const QColor& color);
    QColor TextColor() const { return textColor_; }
    void SetTextColor(const QColor& color);
    QString Text() const { return caption_; }
    void SetText(const QString& text);

    // Whole degrees of the coloured sector: value / (maximum - minimum) * 360, truncated.
    int SweepDegrees() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor bkColor_{0xE6, 0xE9, 0xEE};
    QColor foreColor_{0x01, 0xBB, 0x71};
    QColor textColor_{0x33, 0x33, 0x33};
    QString caption_;
};
