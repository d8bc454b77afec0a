#include "SnapshotSession.h"

#include "services/LocalTlsTrust.h"
#include "services/appearance/AppearanceRules.h"
#include "services/appearance/IconImages.h"

#include <QEvent>
#include <QUuid>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace halvik::snapshot {

namespace {

// Runs once the page has loaded: fonts (at most 4 s), no animations or transitions, hidden
// content shown, two animation frames; then it says so through the title.
QString settleScript(const QString& readyTitle)
{
    return QStringLiteral(R"js(
(function () {
  var fonts = (document.fonts && document.fonts.ready) ? document.fonts.ready : Promise.resolve();
  var capped = Promise.race([fonts, new Promise(function (r) { setTimeout(r, 4000); })]);
  capped.catch(function () {}).then(function () {
    var style = document.createElement('style');
    style.textContent = '*,*::before,*::after{animation:none!important;animation-delay:0s!important;animation-duration:0s!important;transition:none!important}';
    (document.head || document.documentElement).appendChild(style);
    var all = document.querySelectorAll('*');
    for (var i = 0; i < all.length; i++) {
      var el = all[i], cs = getComputedStyle(el);
      if (cs.display === 'none') continue;
      if (cs.opacity === '0' || cs.visibility === 'hidden') {
        el.style.setProperty('opacity', '1', 'important');
        el.style.setProperty('visibility', 'visible', 'important');
        el.style.setProperty('transform', 'none', 'important');
        el.style.setProperty('translate', 'none', 'important');
        el.style.setProperty('filter', 'none', 'important');
        el.style.setProperty('clip-path', 'none', 'important');
      }
    }
    requestAnimationFrame(function () { requestAnimationFrame(function () { document.title = '%1'; }); });
  });
})();
)js")
        .arg(readyTitle);
}

QString svgDocument(const QByteArray& svg)
{
    return QStringLiteral("<!DOCTYPE html><html><head><style>html,body{margin:0;padding:0;width:100%;"
                          "height:100%;background:transparent;overflow:hidden}svg{width:100%;height:100%;"
                          "display:block}</style></head><body>") +
           QString::fromUtf8(svg) + QStringLiteral("</body></html>");
}

} // namespace

SnapshotSession::SnapshotSession(QWebEngineProfile& profile, QSize size, Done done, QObject* parent)
    : QObject(parent), m_size(size), m_done(std::move(done)),
      m_readyTitle(QStringLiteral("halvik-ready-") + QUuid::createUuid().toString(QUuid::Id128))
{
    m_view = std::make_unique<QWebEngineView>();
    auto* page = new QWebEnginePage(&profile, m_view.get());
    m_view->setPage(page);
    m_view->setAttribute(Qt::WA_DontShowOnScreen);
    m_view->resize(size);
    // Hidden, it would never get an animation frame and never paint.
    m_view->show();

    connect(page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus)
            loaded(true, {});
        else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
            loaded(false, info.errorString());
        // A stopped load is a navigation replaced by another: its end is still to come.
    });
    connect(page, &QWebEnginePage::certificateError, this, [](const QWebEngineCertificateError& presented) {
        // A development certificate is accepted as presented, only for a host that can only be
        // local; every other host keeps the engine's own checks.
        QWebEngineCertificateError error = presented;
        if (LocalTlsTrust::isLocalHost(error.url().host()))
            error.acceptCertificate();
        else
            error.rejectCertificate();
    });
    connect(page, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
        if (title == m_readyTitle)
            settled();
    });
    m_requestLimit.setSingleShot(true);
    connect(&m_requestLimit, &QTimer::timeout, this,
            [this] { finish(std::nullopt, QStringLiteral("The page did not load within 15 seconds.")); });
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this,
            [this] { finish(std::nullopt, QStringLiteral("The page did not render within 20 seconds.")); });
    m_paintLimit.setSingleShot(true);
    connect(&m_paintLimit, &QTimer::timeout, this, &SnapshotSession::grabNow);
    m_flatLimit.setSingleShot(true);
    connect(&m_flatLimit, &QTimer::timeout, this, [this] {
        if (!m_finished)
            finish(m_view->grab(QRect(QPoint(0, 0), m_size)).toImage(), {});
    });
}

SnapshotSession::~SnapshotSession()
{
    if (m_renderWidget)
        m_renderWidget->removeEventFilter(this);
}

void SnapshotSession::loadPage(const QUrl& url)
{
    m_requestLimit.start(15000);
    m_watchdog.start(20000);
    m_view->page()->load(url);
}

void SnapshotSession::loadSVG(const QByteArray& svg)
{
    m_svg = true;
    m_view->page()->setBackgroundColor(Qt::transparent);
    m_watchdog.start(20000);
    m_view->page()->setHtml(svgDocument(svg), QUrl(QStringLiteral("about:blank")));
}

void SnapshotSession::loaded(bool ok, const QString& error)
{
    if (m_finished)
        return;
    m_requestLimit.stop();
    if (!ok) {
        finish(std::nullopt, error.isEmpty() ? QStringLiteral("The page did not load.") : error);
        return;
    }
    m_view->page()->runJavaScript(settleScript(m_readyTitle));
}

void SnapshotSession::settled()
{
    if (m_finished || m_waitingForPaint)
        return;
    m_renderWidget = m_view->focusProxy();
    if (m_renderWidget)
        m_renderWidget->installEventFilter(this);
    waitForPaint(1000);
}

void SnapshotSession::waitForPaint(int limitMs)
{
    m_waitingForPaint = true;
    m_paintLimit.start(limitMs);
    if (m_renderWidget)
        m_renderWidget->update();
}

bool SnapshotSession::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_renderWidget && event->type() == QEvent::Paint && m_waitingForPaint) {
        // Grabbed once this paint is done.
        m_paintLimit.stop();
        QMetaObject::invokeMethod(this, &SnapshotSession::grabNow, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void SnapshotSession::grabNow()
{
    if (m_finished || !m_waitingForPaint)
        return;
    m_paintLimit.stop();
    QImage image = m_view->grab(QRect(QPoint(0, 0), m_size)).toImage();
    if (m_svg || !appearance::isFlatFill(image)) {
        finish(std::move(image), {});
        return;
    }
    // The content frame often lands a little after the script's signal: every paint in the
    // next two seconds gets another look before the page is judged flat.
    if (!m_secondLook) {
        m_secondLook = true;
        m_flatLimit.start(2000);
    }
    if (m_renderWidget)
        m_renderWidget->update();
}

void SnapshotSession::finish(std::optional<QImage> image, const QString& error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_requestLimit.stop();
    m_watchdog.stop();
    m_paintLimit.stop();
    m_flatLimit.stop();
    if (m_renderWidget)
        m_renderWidget->removeEventFilter(this);
    m_view->page()->triggerAction(QWebEnginePage::Stop);
    m_done(std::move(image), error);
}

} // namespace halvik::snapshot
