#include "UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// One QApplication for the whole test program, made before the first test.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_ui";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { application.reset(); }

private:
    std::unique_ptr<QApplication> application;
};

[[maybe_unused]] ::testing::Environment* const kApplication
    = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

const char* const kVariables[]
    = {"CORVANE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"};

} // namespace

PrivateEnvironment::PrivateEnvironment()
{
    for (const char* name : kVariables)
        saved.emplace_back(name, qgetenv(name));
    for (const char* sub : {"home", "config", "data", "run"})
        QDir().mkpath(QString::fromStdString(folder.File(sub)));
    ::chmod(folder.File("run").c_str(), 0700);
    qputenv("CORVANE_HOME", QByteArray::fromStdString(folder.File("home")));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(folder.File("config")));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(folder.File("data")));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder.File("run")));
}

PrivateEnvironment::~PrivateEnvironment()
{
    for (const auto& [name, value] : saved) {
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

void PrivateEnvironment::WriteChannels(const std::string& opml) const
{
    QFile file(QString::fromStdString(ChannelsFile()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(opml.data(), static_cast<qint64>(opml.size()));
}

ScriptedPrompts::ScriptedPrompts()
    : previous(SetPrompts(this))
{ }

ScriptedPrompts::~ScriptedPrompts()
{
    SetPrompts(previous);
}

void ScriptedPrompts::Message(
    QWidget*, const QString& caption, const QString& text, QMessageBox::Icon icon)
{
    messages.push_back({caption, text, icon});
}

QString ScriptedPrompts::OpenFileName(QWidget*, const QString& filter, const QString& defaultSuffix)
{
    lastFilter = filter;
    lastDefaultSuffix = defaultSuffix;
    return openFileAnswer;
}

QString ScriptedPrompts::SaveFileName(QWidget*, const QString& filter, const QString& defaultSuffix)
{
    lastFilter = filter;
    lastDefaultSuffix = defaultSuffix;
    return saveFileAnswer;
}

QString ScriptedPrompts::SaveFileNameAndFilter(
    QWidget*, const QString& filter, const QString& defaultSuffix, QString& chosenFilter)
{
    lastFilter = filter;
    lastDefaultSuffix = defaultSuffix;
    chosenFilter = saveFilterAnswer.isEmpty() ? filter.section(QStringLiteral(";;"), 0, 0)
                                              : saveFilterAnswer;
    return saveFileAnswer;
}

int ScriptedPrompts::RunDialog(QDialog& dialog)
{
    // The class's own name, without the project namespace.
    const QString name = QString::fromLatin1(dialog.metaObject()->className());
    dialogsRun << name.mid(name.lastIndexOf(QLatin1Char(':')) + 1);
    return answerDialog ? answerDialog(dialog) : 2;
}

void SendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
    Qt::MouseButtons buttons)
{
    QMouseEvent event(
        type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

std::string SampleChannels()
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<opml version="1.0">
<head><title>Sample</title></head>
<body>
<outline title="News" text="News">
  <outline title="Alpha Daily" type="rss" xmlUrl="http://alpha.example/rss"/>
  <outline title="Beta Times" type="rss" xmlUrl="http://beta.example/rss"/>
</outline>
<outline title="Podcasts" text="Podcasts">
  <outline title="Science Hour" type="rss" xmlUrl="http://science.example/rss"/>
  <outline title="Deep" text="Deep">
    <outline title="Inner Feed" type="rss" xmlUrl="http://inner.example/rss"/>
  </outline>
</outline>
<outline title="Weather" type="rss" xmlUrl="http://weather.example/rss"/>
</body>
</opml>
)";
}
