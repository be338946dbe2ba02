#include "app/input_box.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/web_view.h"

namespace viewer {

InputBox::InputBox(const QString &caption, const QString &initialText, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(caption.isEmpty() ? QStringLiteral("请输入：") : caption);

    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("field"));
    m_field->setText(initialText);
    m_field->selectAll();

    m_confirm = new QPushButton(QStringLiteral("确认输入(&O)"), this);
    m_confirm->setObjectName(QStringLiteral("confirm"));
    m_confirm->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("取消(&C)"), this);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_cancel->setAutoDefault(false);
    connect(m_confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_confirm);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_field);
    layout->addLayout(buttons);
    setMinimumWidth(320);
    m_field->setFocus();
}

QString InputBox::text() const {
    return m_field->text();
}

bool AskForText(QWidget *parent, std::string_view caption, std::string &answer) {
    InputBox box(FromCodePage(caption), FromCodePage(answer), parent);
    // exec() keeps the web view's events flowing while the box is open.
    if (box.exec() != QDialog::Accepted)
        return false;
    answer = ToCodePage(box.text());
    return true;
}

AskText InputBoxAsker(QWidget *parent) {
    return [guard = QPointer<QWidget>(parent)](std::string_view caption, std::string &answer) {
        return AskForText(guard.data(), caption, answer);
    };
}

}  // namespace viewer
