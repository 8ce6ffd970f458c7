// Helpers for the online windows' tests: the application object, waiting on
// the message loop, and a small HTTP(S) server on 127.0.0.1.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "tests/QtTestApp.h"

namespace nebrin::testing {

// One QApplication for the whole test program, made on first use (not while
// the tests are only being listed). Without a display the offscreen
// platform is used. No proxy from the environment reaches the loopback
// tests unless a test sets one itself.
inline QApplication& App() {
    return qttest::App({"nebrin_online_ui_tests", /*replaceEngineFlags=*/false, /*clearProxies=*/true});
}

// Runs the message loop until `done` holds or `limitMs` passed (a safety
// limit so a broken test ends; no rule is timed with it).
inline bool WaitUntil(const std::function<bool()>& done, int limitMs = 20'000) {
    return qttest::WaitUntil(done, limitMs, 50);
}

inline QByteArray ReadTestData(const char* name) {
    QFile f(QStringLiteral(NEBRIN_ONLINE_TEST_DATA "/") + QString::fromLatin1(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A small HTTP/1.1 server on 127.0.0.1, in the test's own thread, so a
// download can only finish while the message loop runs. With `tls` it
// speaks HTTPS with the self-signed certificate of the test data.
class TinyHttpServer : public QTcpServer {
public:
    enum class Mode {
        Normal,    // Content-Length and the whole body
        NoLength,  // the body ends with the connection
        CutShort,  // Content-Length, half the body, then the connection ends
        Trickle,   // Content-Length, then one byte of the body every 200 ms
    };
    struct Route {
        Route(int s = 200, QByteArray b = {}, Mode m = Mode::Normal, QByteArray loc = {})
            : status(s), body(std::move(b)), mode(m), location(std::move(loc)) {}
        int status;
        QByteArray body;
        Mode mode;
        QByteArray location;  // for redirects
    };

    explicit TinyHttpServer(bool tls = false) : tls_(tls) {
        if (tls) {
            cert_ = QSslCertificate(ReadTestData("loopback.crt"));
            key_ = QSslKey(ReadTestData("loopback.key"), QSsl::Ec);
        }
        listen(QHostAddress::LocalHost, 0);
    }

    QString Url(const QString& path) const {
        return QStringLiteral("%1://127.0.0.1:%2/%3").arg(tls_ ? "https" : "http").arg(serverPort()).arg(path);
    }
    static QSslCertificate Certificate() { return QSslCertificate(ReadTestData("loopback.crt")); }

    // Routes by the request target as sent: "/path", or an absolute address
    // when the server stands in as a proxy.
    std::map<QByteArray, Route> routes;
    std::vector<QByteArray> requests;    // request lines
    std::vector<QByteArray> userAgents;  // User-Agent of each request

protected:
    void incomingConnection(qintptr descriptor) override {
        QTcpSocket* socket = nullptr;
        if (tls_) {
            auto* s = new QSslSocket(this);
            s->setSocketDescriptor(descriptor);
            s->setLocalCertificate(cert_);
            s->setPrivateKey(key_);
            s->startServerEncryption();
            socket = s;
        } else {
            socket = new QTcpSocket(this);
            socket->setSocketDescriptor(descriptor);
        }
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const int end = buffer->indexOf("\r\n\r\n");
            if (end < 0) return;
            Answer(socket, buffer->left(end));
            buffer->clear();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void Answer(QTcpSocket* socket, const QByteArray& head) {
        const QList<QByteArray> lines = head.split('\n');
        const QByteArray requestLine = lines.value(0).trimmed();
        requests.push_back(requestLine);
        QByteArray agent;
        for (const QByteArray& l : lines)
            if (l.toLower().startsWith("user-agent:")) agent = l.mid(11).trimmed();
        userAgents.push_back(agent);

        const QByteArray target = requestLine.split(' ').value(1);
        Route route{404, "not here", Mode::Normal, {}};
        if (auto it = routes.find(target); it != routes.end()) route = it->second;

        const QByteArray type = route.body.startsWith("<html") ? "text/html" : "application/octet-stream";
        QByteArray out = "HTTP/1.1 " + QByteArray::number(route.status) +
                         " Status\r\nConnection: close\r\n"
                         "Content-Type: " +
                         type + "\r\n";
        if (!route.location.isEmpty()) out += "Location: " + route.location + "\r\n";
        if (route.mode != Mode::NoLength) out += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
        out += "\r\n";
        if (route.mode == Mode::Trickle) {
            socket->write(out);
            auto* timer = new QTimer(socket);
            auto sent = std::make_shared<qsizetype>(0);
            connect(timer, &QTimer::timeout, socket, [socket, body = route.body, sent] {
                if (*sent < body.size()) socket->write(body.mid((*sent)++, 1));
            });
            timer->start(200);
            return;
        }
        out += route.mode == Mode::CutShort ? route.body.left(route.body.size() / 2) : route.body;
        socket->write(out);
        socket->disconnectFromHost();
    }

    bool tls_;
    QSslCertificate cert_;
    QSslKey key_;
};

}  // namespace nebrin::testing
