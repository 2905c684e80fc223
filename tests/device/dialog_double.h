// Stands in for the acquisition dialog where only its presence and its "isConnected" signal matter.
#pragma once

#include <QObject>

class DialogDouble : public QObject {
    Q_OBJECT

signals:
    void isConnected(bool connected);
};
