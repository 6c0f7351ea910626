// Must not compile: core code may not use Qt.
#include <QString>

int probe() { return QString().size(); }
