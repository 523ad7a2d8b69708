#include "browser/HeadlessChromium.h"

#include "base/Exceptions.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPoint>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

HeadlessChromium::HeadlessChromium(const QString& workFolder)
{
    const QString profile = QDir(workFolder).filePath("profile");
    QDir().mkpath(profile);
    const QByteArray logPath = QDir(workFolder).filePath("chromium.log").toLocal8Bit();

    Platform::Pipe commands, replies;
    try {
        commands = Platform::CreatePipe();
        replies = Platform::CreatePipe();
    } catch (const EInOutError&) {
        throw BrowserError("cannot create a pipe");
    }
    const Platform::UniqueFd nothing(open("/dev/null", O_RDONLY | O_CLOEXEC));
    const Platform::UniqueFd log(open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!nothing.Valid() || !log.Valid())
        throw BrowserError("cannot open the browser's log " + logPath.toStdString());

    const std::vector<std::string> arguments = {
        "/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
        "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--user-data-dir=" + QFile::encodeName(profile).toStdString(), "--remote-debugging-pipe",
        "--hide-scrollbars", "--mute-audio",
        // A page that opens a window goes on running at full speed behind it.
        "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
        "--disable-backgrounding-occluded-windows",
        // Nothing beyond loopback: every other address goes to a proxy that
        // is not there, so a page that needs the network fails here.
        "--proxy-server=http://127.0.0.1:9", "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"};
    // The remote-debugging pipe is the browser's descriptors 3 (commands)
    // and 4 (replies).
    std::optional<Platform::ChildProcess> started = Platform::ChildProcess::Start(
        arguments[0], arguments,
        {{nothing.Get(), 0}, {log.Get(), 1}, {log.Get(), 2}, {commands.ReadEnd.Get(), 3}, {replies.WriteEnd.Get(), 4}},
        0);
    if (!started)
        throw BrowserError("cannot start /usr/bin/chromium");
    browser.emplace(std::move(*started));
    toBrowser = commands.WriteEnd.Release();
    fromBrowser = replies.ReadEnd.Release();
    fcntl(fromBrowser, F_SETFL, fcntl(fromBrowser, F_GETFL) | O_NONBLOCK);
    readable = std::make_unique<QSocketNotifier>(fromBrowser, QSocketNotifier::Read);
    QObject::connect(readable.get(), &QSocketNotifier::activated, [this] { readMessages(); });
}

HeadlessChromium::~HeadlessChromium()
{
    if (browser) {
        if (!closed) {
            try {
                Call("Browser.close", {}, {}, 5000);
            } catch (const BrowserError&) {
            }
        }
        readable.reset();
        // Give the browser a moment to end by itself, then end what is left
        // of its process group. It is reaped only after that, so the group's
        // id cannot have passed to anyone else meanwhile.
        QElapsedTimer clock;
        clock.start();
        siginfo_t info{};
        while (waitid(P_PID, id_t(browser->Pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0 &&
               clock.elapsed() < 5000) {
            QEventLoop loop;
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
            loop.exec();
        }
        browser->KillGroup();
        browser->WaitForEnd();
    }
    if (toBrowser >= 0)
        close(toBrowser);
    if (fromBrowser >= 0)
        close(fromBrowser);
}

void HeadlessChromium::readMessages()
{
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(fromBrowser, buffer, sizeof buffer);
        if (count > 0) {
            pending.append(buffer, count);
            continue;
        }
        if (count == 0) {
            // The browser has ended: nothing more will come.
            gone = true;
            if (readable)
                readable->setEnabled(false);
        }
        if (count == 0 || errno != EINTR)
            break;
    }
    qsizetype end;
    while ((end = pending.indexOf('\0')) >= 0) {
        const QJsonObject message = QJsonDocument::fromJson(pending.left(end)).object();
        pending.remove(0, end + 1);
        if (message.contains("id"))
            answers[message.value("id").toInt()] = message;
        else
            events.push_back(message);
    }
}

bool HeadlessChromium::WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        // Wakes on any event (a reply on the pipe, a request to the server)
        // or after a short while to look at the clock again.
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(std::min<qint64>(left, 50)), &loop, &QEventLoop::quit);
        loop.processEvents(QEventLoop::WaitForMoreEvents);
        if (!gone)
            readMessages();
    }
    return true;
}

QJsonObject HeadlessChromium::Call(const QString& method, const QJsonObject& params, const QString& sessionId,
                                   int timeoutMs)
{
    const int id = ++lastId;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (!sessionId.isEmpty())
        message.insert("sessionId", sessionId);
    const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t count = write(toBrowser, bytes.constData() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw BrowserError("the browser has gone away");
        written += count;
    }
    if (method == "Browser.close")
        closed = true;
    if (!WaitUntil([&] { return answers.count(id) > 0 || gone; }, timeoutMs) || answers.count(id) == 0)
        throw BrowserError("no answer from the browser to " + method.toStdString());
    const QJsonObject answer = answers[id];
    answers.erase(id);
    if (answer.contains("error"))
        throw BrowserError(method.toStdString() + ": " +
                           answer.value("error").toObject().value("message").toString().toStdString());
    return answer.value("result").toObject();
}

std::optional<QJsonObject> HeadlessChromium::WaitForEvent(
    const std::function<bool(const QJsonObject&)>& match, int timeoutMs)
{
    qsizetype looked = 0;
    std::optional<QJsonObject> found;
    WaitUntil(
        [&] {
            for (; looked < events.size() && !found; ++looked) {
                if (match(events[looked]))
                    found = events[looked];
            }
            return found.has_value();
        },
        timeoutMs);
    return found;
}

BrowserTab::BrowserTab(HeadlessChromium& browser, QSize viewport) : browser(browser)
{
    const QString target =
        browser.Call("Target.createTarget", {{"url", "about:blank"}}).value("targetId").toString();
    session = browser.Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})
                  .value("sessionId")
                  .toString();
    browser.Call("Runtime.enable", {}, session);
    browser.Call("Page.enable", {}, session);
    browser.Call("Emulation.setDeviceMetricsOverride",
                 {{"width", viewport.width()},
                  {"height", viewport.height()},
                  {"deviceScaleFactor", 1},
                  {"mobile", false}},
                 session);
}

void BrowserTab::Open(const QString& url)
{
    firstEvent = browser.Events().size();
    browser.Call("Page.navigate", {{"url", url}}, session);
}

QStringList BrowserTab::ConsoleLines() const
{
    QStringList lines;
    const QList<QJsonObject>& events = browser.Events();
    for (qsizetype i = firstEvent; i < events.size(); ++i) {
        const QJsonObject& event = events[i];
        if (event.value("sessionId").toString() != session)
            continue;
        if (event.value("method") == "Runtime.consoleAPICalled") {
            // "%c" marks style the arguments after the text; drop both.
            const QJsonArray args = event.value("params").toObject().value("args").toArray();
            const QString first =
                args.isEmpty() ? QString() : args[0].toObject().value("value").toVariant().toString();
            QString line = first;
            line.remove("%c");
            const qsizetype styles = first.count("%c");
            for (qsizetype a = 1 + styles; a < args.size(); ++a)
                line += ' ' + args[a].toObject().value("value").toVariant().toString();
            lines << event.value("params").toObject().value("type").toString() + ": " + line.trimmed();
        } else if (event.value("method") == "Runtime.exceptionThrown") {
            const QJsonObject details = event.value("params").toObject().value("exceptionDetails").toObject();
            lines << "exception: " + details.value("exception")
                                         .toObject()
                                         .value("description")
                                         .toString(details.value("text").toString());
        }
    }
    return lines;
}

bool BrowserTab::WaitForConsole(const QString& text, int timeoutMs)
{
    return browser.WaitUntil([&] { return ConsoleLines().join('\n').contains(text); }, timeoutMs);
}

QJsonValue BrowserTab::Evaluate(const QString& expression)
{
    const QJsonObject result =
        browser.Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session);
    if (result.contains("exceptionDetails"))
        throw BrowserError("script failed: " + expression.toStdString());
    return result.value("result").toObject().value("value");
}

QImage BrowserTab::Screenshot()
{
    const QJsonObject result = browser.Call("Page.captureScreenshot", {{"format", "png"}}, session);
    return QImage::fromData(QByteArray::fromBase64(result.value("data").toString().toLatin1()), "PNG");
}

void BrowserTab::Click(const QPoint& at)
{
    for (const char* type : {"mouseMoved", "mousePressed", "mouseReleased"}) {
        browser.Call("Input.dispatchMouseEvent",
                     {{"type", type}, {"x", at.x()}, {"y", at.y()}, {"button", "left"}, {"clickCount", 1}},
                     session);
    }
}
