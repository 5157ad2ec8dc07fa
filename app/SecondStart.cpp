#include "app/SecondStart.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace ZantrelApp {

namespace {

// A message: this tag, the number of paths, the paths. The tag keeps a
// stranger's bytes (or another version's) from being taken for paths.
constexpr quint32 MessageTag = 0x5a4e5431;  // "ZNT1"
constexpr quint32 MostPaths = 1u << 20;
// The window's one-byte answer once it has the whole message.
constexpr char Received = '+';

}  // namespace

QString WindowServerName(const QString& settingsFile) {
  const QByteArray file = QFile::encodeName(QDir::cleanPath(QFileInfo(settingsFile).absoluteFilePath()));
  const QString key = QString::fromLatin1(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex().left(16));
#ifdef _WIN32
  return QStringLiteral("zantrel-%1-%2").arg(qEnvironmentVariable("USERNAME"), key);
#else
  // The user's own runtime folder when there is one; else the shared
  // temporary folder, with the user's number in the name.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
    return QDir(runtime).filePath(QStringLiteral("zantrel-") + key);
  return QStringLiteral("zantrel-%1-%2").arg(getuid()).arg(key);
#endif
}

bool HandToRunningWindow(const QString& name, const QStringList& paths, int waitMs) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(std::min(waitMs, 2000))) return false;
  QByteArray message;
  QDataStream out(&message, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_0);
  out << MessageTag << quint32(paths.size());
  for (const QString& path : paths) out << QFileInfo(path).absoluteFilePath();
  socket.write(message);
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(waitMs)) return false;
  char answer = 0;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(waitMs)) return false;
  return socket.getChar(&answer) && answer == Received;
}

WindowServer::WindowServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Serve(socket); });
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      Serve(socket);
    }
  });
}

bool WindowServer::Listen(const QString& name) {
  // A socket made for this user only is put in place over whatever has the
  // name: a window that answers there keeps it.
  QLocalSocket probe;
  probe.connectToServer(name);
  if (probe.waitForConnected(1000)) return false;
  if (server_->listen(name)) return true;
  if (server_->serverError() != QAbstractSocket::AddressInUseError) return false;
  QLocalServer::removeServer(name);
  return server_->listen(name);
}

void WindowServer::Serve(QLocalSocket* socket) {
  // A message may come in pieces: it is read again from its start until
  // it is whole.
  QDataStream in(socket);
  in.setVersion(QDataStream::Qt_6_0);
  in.startTransaction();
  quint32 tag = 0, count = 0;
  in >> tag >> count;
  if (in.status() == QDataStream::Ok && (tag != MessageTag || count > MostPaths)) {
    socket->abort();
    return;
  }
  QStringList paths;
  for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
    QString path;
    in >> path;
    paths << path;
  }
  if (!in.commitTransaction()) return;
  // Answered before the paths are added: a large folder takes a while, and
  // the start that sent them need not wait for it.
  socket->putChar(Received);
  socket->flush();
  socket->disconnectFromServer();
  if (OnPaths) OnPaths(paths);
}

}  // namespace ZantrelApp
