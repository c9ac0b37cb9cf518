#include "socketerrortext.h"

QString socketErrorText(QAbstractSocket::SocketError code)
{
    switch (code) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("接続を拒否されました");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("Harrox側がプログラムを閉じました");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("接続先のアドレスが正しくありません");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("通信を許可されていません");
    case QAbstractSocket::SocketResourceError:
        return QStringLiteral("通信に使う資源が足りません");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("Harroxからの応答がなくなりました");
    case QAbstractSocket::NetworkError:
        // Unreachable, or a dead link the kernel gave up on.
        return QStringLiteral("ネットワークの障害でHarroxとの通信が途絶えました");
    default:
        return QStringLiteral("通信エラーが起きました（%1）").arg(int(code));
    }
}
