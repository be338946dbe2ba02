#pragma once

#include <QDialog>
#include <string>
#include <string_view>

#include "navigation/newest_thread.h"

class QLineEdit;
class QPushButton;

namespace viewer {

// A modal box with one plain single-line field, "确认输入(&O)" (default) and "取消(&C)".
class InputBox : public QDialog {
    Q_OBJECT

public:
    InputBox(const QString &caption, const QString &initialText, QWidget *parent = nullptr);

    QString text() const;

private:
    QLineEdit *m_field = nullptr;
    QPushButton *m_confirm = nullptr;
    QPushButton *m_cancel = nullptr;
};

// Shows the box over `parent`: `caption` "" gives "请输入：", `answer` is the selected initial
// text. Confirmed: stores the field's text and returns true; otherwise leaves `answer` alone.
bool AskForText(QWidget *parent, std::string_view caption, std::string &answer);

// The same box as an AskText for the jump and suggestion commands.
AskText InputBoxAsker(QWidget *parent);

}  // namespace viewer
