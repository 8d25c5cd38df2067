#pragma once

#include "app/cli.h"

#include <QObject>
#include <QString>

class QLocalServer;

namespace pimsel {

// The running instance's end of the channel through which a later start of `pimsel` hands its
// request over instead of starting a second instance. Only the holder of the instance lock listens.
class InstanceServer : public QObject {
    Q_OBJECT

public:
    explicit InstanceServer(QString path, QObject* parent = nullptr);

    // Replaces whatever socket an instance that died left at the path; false when that fails.
    bool listen();

Q_SIGNALS:
    void requested(pimsel::ShellRequest request);

private:
    QString m_path;
    QLocalServer* m_server;
};

// A later start's end: hands `request` to the instance listening at `path` and waits until it has
// taken it. The instance may be starting up and not listen yet, so connecting is tried again until
// `timeoutMs` has passed. Needs no application object.
bool handOver(const QString& path, ShellRequest request, int timeoutMs);

} // namespace pimsel
