#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QProcess;
class QPushButton;

namespace varnel {

// A small window that runs one network tool (whois, ping, tracepath) on a connection's address and
// shows what it prints as it prints it: read-only, standard output and error together, the end
// of the run told on a last line. The program is started directly with its argument list, never
// through a shell. Closing the window at any time ends a program still running.
//
// Deletes itself when closed; GUI thread only.
class ProgramRunWindow : public QDialog {
    Q_OBJECT

  public:
    // Output beyond this many characters is dropped (a tool that never ends cannot fill memory).
    static constexpr int kMaxChars = 1 << 20;

    // Starts `program` with `arguments` at once; `title` is the window's caption.
    ProgramRunWindow(const QString& title, const QString& program, const QStringList& arguments,
                     bool japanese, QWidget* parent = nullptr);
    ~ProgramRunWindow() override;

    QPlainTextEdit* output() const { return output_; }
    QProcess* process() const { return process_; }
    bool finished() const { return finished_; }

  signals:
    // The program ended (or could not be started); the last line is in the output.
    void programFinished();

  private:
    void Append(const QByteArray& bytes);
    void Finish(const QString& line);

    QPlainTextEdit* output_ = nullptr;
    QProcess* process_ = nullptr;
    bool japanese_ = false;
    bool finished_ = false;
    int written_ = 0;
};

}  // namespace varnel
