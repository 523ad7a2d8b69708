#include "browser/HeadlessChromium.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPoint>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// A pipe whose ends are above 4, so that handing them to the browser as its
// descriptors 3 and 4 can never clash with them.
void highPipe(int ends[2])
{
    int raw[2];
    if (pipe2(raw, O_CLOEXEC) != 0)
        throw BrowserError("cannot create a pipe");
    for (int i = 0; i < 2; ++i) {
        ends[i] = fcntl(raw[i], F_DUPFD_CLOEXEC, 5);
        close(raw[i]);
        if (ends[i] < 0)
            throw BrowserError("cannot move a pipe end");
    }
}

}  // namespace

HeadlessChromium::HeadlessChromium(const QString& workFolder)
{
    const QString profile = QDir(workFolder).filePath("profile");
    QDir().mkpath(profile);
    const QByteArray logPath = QDir(workFolder).filePath("chromium.log").toLocal8Bit();

    int commands[2], replies[2];
    highPipe(commands);
    highPipe(replies);

    const QList<QByteArray> arguments = {
        "/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
        "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--user-data-dir=" + profile.toLocal8Bit(), "--remote-debugging-pipe",
        "--hide-scrollbars", "--mute-audio",
        // A page that opens a window goes on running at full speed behind it.
        "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
        "--disable-backgrounding-occluded-windows",
        // Nothing beyond loopback: every other address goes to a proxy that
        // is not there, so a page that needs the network fails here.
        "--proxy-server=http://127.0.0.1:9", "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"};
    std::vector<char*> argv;
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_adddup2(&actions, commands[0], 3);
    posix_spawn_file_actions_adddup2(&actions, replies[1], 4);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(commands[0]);
    close(replies[1]);
    toBrowser = commands[1];
    fromBrowser = replies[0];
    if (spawned != 0) {
        pid = -1;
        close(toBrowser);
        close(fromBrowser);
        throw BrowserError("cannot start /usr/bin/chromium");
    }
    fcntl(fromBrowser, F_SETFL, fcntl(fromBrowser, F_GETFL) | O_NONBLOCK);
    readable = std::make_unique<QSocketNotifier>(fromBrowser, QSocketNotifier::Read);
    QObject::connect(readable.get(), &QSocketNotifier::activated, [this] { readMessages(); });
}

HeadlessChromium::~HeadlessChromium()
{
    if (pid > 0) {
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
        while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0 &&
               clock.elapsed() < 5000) {
            QEventLoop loop;
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
            loop.exec();
        }
        kill(-pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
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
