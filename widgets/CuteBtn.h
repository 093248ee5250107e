#pragma once

#include <QWidget>

// Painted push button used for every command button of the main window.
// Provisional body: the full painted button replaces it.
class TCuteButton : public QWidget {
    Q_OBJECT
public:
    explicit TCuteButton(QWidget* parent = nullptr);
    TCuteButton(const QString& caption, QWidget* parent = nullptr);

    QString caption() const { return caption_; }
    void setCaption(const QString& caption);

    // Programmatic click: runs the same steps as an operator's click.
    void click();

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    QString caption_;
};
