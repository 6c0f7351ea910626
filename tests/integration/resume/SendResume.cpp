// Stands in for the login manager after a resume: owns its name on the bus at ADDRESS and sends
// PrepareForSleep(false) from it, as logind does when the machine wakes up.
//   varnel_send_resume ADDRESS      exit status 0 when the signal went out
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: varnel_send_resume ADDRESS\n", stderr);
        return 2;
    }
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), "login");
    if (!bus.isConnected() || !bus.registerService("org.freedesktop.login1")) {
        std::fputs("varnel_send_resume: cannot take the login manager's name\n", stderr);
        return 1;
    }
    QDBusMessage wake = QDBusMessage::createSignal("/org/freedesktop/login1",
                                                   "org.freedesktop.login1.Manager", "PrepareForSleep");
    wake << false;
    if (!bus.send(wake)) return 1;
    // Stay on the bus for a moment, so the signal leaves before the name goes.
    QTimer::singleShot(300, &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
