#include "monitor/ProgramRunWindow.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

namespace varnel {

ProgramRunWindow::ProgramRunWindow(const QString& title, const QString& program, const QStringList& arguments,
                                   bool japanese, QWidget* parent)
    : QDialog(parent), japanese_(japanese) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    setModal(false);
    resize(640, 360);
    auto* layout = new QVBoxLayout(this);
    output_ = new QPlainTextEdit(this);
    output_->setReadOnly(true);
    output_->setUndoRedoEnabled(false);
    output_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    output_->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(output_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(japanese ? QString("閉じる") : QString("Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);

    process_ = new QProcess(this);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardInputFile(QProcess::nullDevice());
    connect(process_, &QProcess::readyRead, this, [this] { Append(process_->readAll()); });
    connect(process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        Append(process_->readAll());
        if (status == QProcess::CrashExit)
            Finish(japanese_ ? QString("— 異常終了しました") : QString("— ended abnormally"));
        else
            Finish((japanese_ ? QString("— 終了しました (終了コード %1)")
                              : QString("— finished (exit status %1)"))
                       .arg(code));
    });
    connect(process_, &QProcess::errorOccurred, this, [this, program](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        Finish((japanese_ ? QString("— %1 を起動できません: %2") : QString("— could not start %1: %2"))
                   .arg(program, process_->errorString()));
    });
    output_->appendPlainText(program + " " + arguments.join(' '));
    output_->appendPlainText(QString());  // the output starts on a line of its own
    process_->start(program, arguments, QIODevice::ReadOnly);
}

ProgramRunWindow::~ProgramRunWindow() {
    // A program still running ends with its window.
    if (process_->state() != QProcess::NotRunning) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(1000);
    }
}

void ProgramRunWindow::Append(const QByteArray& bytes) {
    if (bytes.isEmpty() || written_ >= kMaxChars) return;
    QString text = QString::fromLocal8Bit(bytes);
    // Control characters other than line ends would garble the window; tabs stay.
    for (QChar& c : text)
        if (c.unicode() < 0x20 && c != '\n' && c != '\t') c = QChar(' ');
    text = text.left(kMaxChars - written_);
    written_ += static_cast<int>(text.size());
    output_->moveCursor(QTextCursor::End);
    output_->insertPlainText(text);
    output_->moveCursor(QTextCursor::End);
}

void ProgramRunWindow::Finish(const QString& line) {
    if (finished_) return;
    finished_ = true;
    output_->appendPlainText(line);
    emit programFinished();
}

}  // namespace varnel
