#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

// Clicks the dialog's button of that role, as the user would.
inline void press(QFileDialog& dialog, QDialogButtonBox::ButtonRole role)
{
    auto* box = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == role) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
    FAIL() << "no button of that role";
}
inline void save(QFileDialog& dialog) { press(dialog, QDialogButtonBox::AcceptRole); }
inline void cancel(QFileDialog& dialog) { press(dialog, QDialogButtonBox::RejectRole); }

// Plays the user at the save dialog: each time a dialog shows, the next
// action given runs on it. A message box that the dialog shows in turn is
// noted and answered with the button given, or else closed, so that a test
// never waits for it.
class DialogDriver {
public:
    DialogDriver()
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { tick(); });
        m_poll.start();
    }
    void next(std::function<void(QFileDialog&)> act) { m_actions.push_back(std::move(act)); }
    void answerBoxesWith(QMessageBox::StandardButton answer) { m_answer = answer; }
    std::size_t boxesSeen() const { return m_boxes.size(); }
    std::vector<QString> takeBoxes() { return std::exchange(m_boxes, {}); }

private:
    void tick()
    {
        QWidget* modal = QApplication::activeModalWidget();
        ++m_ticks;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_boxes.push_back(box->text());
            if (QAbstractButton* answer = box->button(m_answer))
                answer->click();
            else
                box->reject();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog)
            return;
        if (dialog != m_current) {
            if (m_actions.empty())
                return;
            m_current = dialog;
            m_action = m_actions.front();
            m_actions.erase(m_actions.begin());
        } else if (m_ticks - m_actedAt < 40) {
            return; // give the last try time to take effect
        }
        // A dialog still loading its folder may not take the first try; the
        // action runs again until the dialog closes. Queued, so that this
        // timer can still see a box the action opens.
        m_actedAt = m_ticks;
        QMetaObject::invokeMethod(dialog, [act = m_action, dialog] { act(*dialog); }, Qt::QueuedConnection);
    }

    QTimer m_poll;
    int m_ticks = 0;
    int m_actedAt = 0;
    QPointer<QFileDialog> m_current;
    std::function<void(QFileDialog&)> m_action;
    std::vector<std::function<void(QFileDialog&)>> m_actions;
    std::vector<QString> m_boxes;
    QMessageBox::StandardButton m_answer = QMessageBox::NoButton;
};
