// halvik-snapshot: renders pages off-screen for Halvik's site previews. The only program of
// Halvik that loads the web engine, so the window never carries it.
//
// Protocol: one JSON object a line on standard input, one answer a line on standard output.
//   {"id":1,"kind":"page","url":"http://…","width":1280,"height":720,"output":"/tmp/1.png"}
//   {"id":2,"kind":"svg","svg":"<base64>","width":128,"height":128,"output":"/tmp/2.png"}
//   -> {"id":1,"ok":true} once the PNG is written, or {"id":1,"ok":false,"error":"…"}
// Requests are rendered one at a time, in order; the program ends when its input closes and
// the last request has been answered.
#include "SnapshotSession.h"

#include "services/appearance/AppearanceRules.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <deque>
#include <iostream>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using halvik::snapshot::SnapshotSession;

// Answers every prefers-reduced-motion query with a match; everything else as the engine would.
constexpr char reducedMotionScript[] = R"js(
(function () {
  var original = window.matchMedia ? window.matchMedia.bind(window) : null;
  if (!original) return;
  window.matchMedia = function (query) {
    if (/prefers-reduced-motion/.test(String(query))) {
      return { matches: true, media: String(query), onchange: null,
               addListener: function () {}, removeListener: function () {},
               addEventListener: function () {}, removeEventListener: function () {},
               dispatchEvent: function () { return false; } };
    }
    return original(query);
  };
})();
)js";

class Renderer : public QObject
{
public:
    Renderer() : m_profile(new QWebEngineProfile(this))
    {
        m_profile->setHttpUserAgent(QString::fromLatin1(halvik::appearance::pageUserAgent));
        m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        QWebEngineScript script;
        script.setName(QStringLiteral("reduced-motion"));
        script.setSourceCode(QString::fromLatin1(reducedMotionScript));
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        script.setRunsOnSubFrames(true);
        m_profile->scripts()->insert(script);
    }

    void add(const QByteArray& line)
    {
        m_queue.push_back(line);
        next();
    }
    void endOfInput()
    {
        m_inputClosed = true;
        next();
    }

private:
    void next()
    {
        if (m_session)
            return;
        if (m_queue.empty()) {
            if (m_inputClosed)
                QCoreApplication::quit();
            return;
        }
        const QByteArray line = m_queue.front();
        m_queue.pop_front();
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        const int id = request.value(QStringLiteral("id")).toInt();
        const QString output = request.value(QStringLiteral("output")).toString();
        const QSize size(request.value(QStringLiteral("width")).toInt(1280),
                         request.value(QStringLiteral("height")).toInt(720));
        const QString kind = request.value(QStringLiteral("kind")).toString();
        if (output.isEmpty() || size.isEmpty() ||
            (kind != QLatin1String("page") && kind != QLatin1String("svg"))) {
            reply(id, QStringLiteral("The request could not be read."));
            QMetaObject::invokeMethod(
                this, [this] { next(); }, Qt::QueuedConnection);
            return;
        }
        m_session = new SnapshotSession(
            *m_profile, size,
            [this, id, output](std::optional<QImage> image, QString error) {
                if (image && !image->save(output, "PNG"))
                    error = QStringLiteral("The image could not be written.");
                reply(id, image && error.isEmpty() ? QString() : error);
                // The session ends after its own call returns.
                m_session->deleteLater();
                m_session = nullptr;
                QMetaObject::invokeMethod(
                    this, [this] { next(); }, Qt::QueuedConnection);
            },
            this);
        if (kind == QLatin1String("page"))
            m_session->loadPage(QUrl(request.value(QStringLiteral("url")).toString()));
        else
            m_session->loadSVG(
                QByteArray::fromBase64(request.value(QStringLiteral("svg")).toString().toLatin1()));
    }

    void reply(int id, const QString& error)
    {
        QJsonObject answer{{QStringLiteral("id"), id}, {QStringLiteral("ok"), error.isEmpty()}};
        if (!error.isEmpty())
            answer.insert(QStringLiteral("error"), error);
        const QByteArray text = QJsonDocument(answer).toJson(QJsonDocument::Compact);
        std::cout << text.constData() << std::endl;
    }

    QWebEngineProfile* m_profile; // off the record: no name, nothing kept on disk
    std::deque<QByteArray> m_queue;
    SnapshotSession* m_session = nullptr;
    bool m_inputClosed = false;
};

} // namespace

int main(int argc, char** argv)
{
    // Chromium refuses to run as root with its sandbox (CI); everyone else keeps it.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Rendering previews is background work.
    ::setpriority(PRIO_PROCESS, 0, 10);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("halvik-snapshot"));
    Renderer renderer;

    std::thread reader([&renderer] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line.empty())
                continue;
            QByteArray bytes(line.data(), qsizetype(line.size()));
            QMetaObject::invokeMethod(
                &renderer, [&renderer, bytes] { renderer.add(bytes); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            &renderer, [&renderer] { renderer.endOfInput(); }, Qt::QueuedConnection);
    });
    reader.detach();
    return app.exec();
}
