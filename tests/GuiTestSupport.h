#pragma once

// Driving the real window as a user would: dropping files on it and answering the
// message boxes it opens.

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QQueue>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace GuiTest {

// Sends a drag enter, a drag move and a drop carrying urls to target, as a file manager
// does. Returns whether the drop was accepted.
inline bool dropUrls(QWidget* target, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(pos.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

inline bool dropFile(QWidget* target, const QString& path)
{
    return dropUrls(target, {QUrl::fromLocalFile(path)});
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Answers the modal message boxes that open while it lives, in order, and records
// what each showed.
class MessageBoxAnswers : public QObject
{
public:
    struct Seen
    {
        QString caption;
        QString text;
    };

    // QMessageBox::Escape stands for pressing Esc.
    explicit MessageBoxAnswers(const QList<int>& answers)
    {
        for (const int answer : answers)
            m_answers.enqueue(answer);
        connect(&m_timer, &QTimer::timeout, this, &MessageBoxAnswers::answer);
        m_timer.start(10);
    }

    QList<Seen> seen;
    bool allAnswered() const { return m_answers.isEmpty(); }

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->property("answered").toBool() || m_answers.isEmpty())
            return;
        box->setProperty("answered", true);
        seen.append({box->windowTitle(), box->text()});
        const int answer = m_answers.dequeue();
        if (answer == QMessageBox::Escape)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(QMessageBox::StandardButton(answer))->click();
    }

    QQueue<int> m_answers;
    QTimer m_timer;
};

} // namespace GuiTest
