#include "app/winapp.h"
#include "ui_winapp.h"

#include "app/ClipInfo.h"
#include "app/ConvertDialogBox.h"
#include "base/Exceptions.h"
#include "base/Files.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/JpegImage.h"
#include "platform/ProgramFolder.h"
#include "platform/UserInputBlock.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMimeData>
#include <QTimer>

TForm1* Form1 = nullptr;

namespace {

std::string resourceBytes(const QString& name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// The converter's output is kept for the clip length, which it writes at its
// start; a converter that floods its output is not followed beyond this.
constexpr std::size_t MaxConvertOutput = 8 * 1024 * 1024;

// Calls the given function when the scope is left, however it is left.
template <class Function>
class AtScopeExit {
public:
    explicit AtScopeExit(Function function) : function(std::move(function)) {}
    ~AtScopeExit() { function(); }
    AtScopeExit(const AtScopeExit&) = delete;
    AtScopeExit& operator=(const AtScopeExit&) = delete;

private:
    Function function;
};

// The windows the application made at the start; the given one alone where
// it made none.
std::vector<QWidget*> programWindows(QWidget* window)
{
    if (auto* application = qobject_cast<TApplication*>(QCoreApplication::instance()))
        if (!application->Forms().empty())
            return application->Forms();
    return {window};
}

}  // namespace

std::optional<std::string> DroppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().first().isLocalFile())
        return std::nullopt;
    const QFileInfo file(data->urls().first().toLocalFile());
    if (!file.isFile())
        return std::nullopt;
    return file.absoluteFilePath().toLocal8Bit().toStdString();
}

QPixmap BannerPicture(const std::string& jpegBytes)
{
    try {
        return QPixmap::fromImage(DecodeJpeg(jpegBytes));
    } catch (const std::exception&) {
        return {};
    }
}

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm1>())
{
    ui->setupUi(this);
    move(264, 75);
    setWindowIcon(QIcon(QStringLiteral(":/designs/icon.png")));
    ui->Image1->setPixmap(BannerPicture(resourceBytes(QStringLiteral(":/designs/banner.jpg"))));

    OpenDialog1.Title = "Select your video file";
    OpenDialog1.Filter = {
        {"Video Files (avi, mpeg, mpg, wmv, mov)", "*.avi; *.mpeg; *.mpg; *.mov; *.wmv; *.asx; *.mpe;"},
        {"All Files (*.*)", "*.*"}};

    // The runner as the window's form data sets it up.
    DosCommand1 = new TDosCommand(this);
    DosCommand1->InputToOutput = true;
    DosCommand1->MaxTimeAfterBeginning = 0;
    DosCommand1->MaxTimeAfterLastOutput = 0;
    DosCommand1->OnNewLine = [this](QObject* sender, std::string line, TOutputType type) {
        PrikaziOutput(sender, std::move(line), type);
    };
    DosCommand1->OnTerminated = [this](QObject* sender) { ConvertZavrshi(sender); };

    connect(ui->Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
    setAcceptDrops(true);
}

TForm1::~TForm1()
{
    DosCommand1->Shutdown();
}

std::string TForm1::outputPath() const
{
    return Platform::ProgramFolder() + "html/flvs/" + VratiImeNaFajl(OpenDialog1.FileName) + ".flv";
}

void TForm1::Button1Click()
{
    ConvertOutput.clear();
    ConvertFailed = false;
    if (!OpenDialog1.Execute())
        return;

    // Whatever happens from here on, the runner is shut down at the end.
    AtScopeExit shutdown([this] { DosCommand1->Shutdown(); });

    ConvertDialog->Show();
    DosCommand1->CommandLine = ConverterCommandLine(OpenDialog1.FileName, outputPath());
    DosCommand1->Start();
    Dialogs::ShowMessage("Converting is started. Click \"OK\" to continue");

    {
        // The program's windows stay painted but take no input until the
        // converter has ended or the watchdog has stopped it.
        TUserInputBlock noInput(programWindows(this));
        // A poll every 500 ms, the watchdog from the sixth on: the converter
        // has about 2.5 s to create its output before a missing one counts as
        // a failure.
        int counter = 0;
        while (ConvertDialog->Showing()) {
            ++counter;
            if (counter > 5)
                CheckFileSize();
            if (!ConvertDialog->Showing())
                break;
            QEventLoop pause;
            QTimer::singleShot(500, &pause, &QEventLoop::quit);
            connect(ConvertDialog, &TConvertDialog::closed, &pause, &QEventLoop::quit);
            pause.exec();
        }
    }

    if (ConvertFailed)
        Dialogs::ShowMessage("The input video file has errors. Please check video file.");
    else
        ProveriConverting();
}

void TForm1::OpenVideo(const std::string& path)
{
    OpenDialog1.ChooseInAdvance(path);
    Button1Click();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (DroppedFile(event->mimeData()))
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const std::optional<std::string> path = DroppedFile(event->mimeData());
    if (!path)
        return;
    event->acceptProposedAction();
    // The job waits on message boxes; the file manager that sent the drop
    // should not wait with it.
    QTimer::singleShot(0, this, Guarded([this, path] { OpenVideo(*path); }));
}

void TForm1::CheckFileSize()
{
    std::int64_t inputSize = 1;
    std::int64_t outputSize = 1;
    try {
        inputSize = Files::SizeOfWritableFile(OpenDialog1.FileName);
        outputSize = Files::SizeOfWritableFile(outputPath());
    } catch (const EInOutError&) {
        stopConversion("Input file is read only");
    }
    // A good conversion stays well under twice the input; beyond that the
    // input is taken as broken. The sizes are 64-bit, so an input of 1 GiB
    // or more is doubled without overflow.
    if (2 * inputSize < outputSize)
        stopConversion({});
}

// The watchdog's way out: the converter is killed and its output thrown
// away; the job tells the user once its wait is over.
void TForm1::stopConversion(const std::string& message)
{
    DosCommand1->Shutdown();
    if (!message.empty())
        Dialogs::ShowMessage(message);
    Files::DeleteFileQuietly(outputPath());
    ConvertFailed = true;
    ConvertDialog->Close();
}

void TForm1::StopForProgramEnd()
{
    if (!DosCommand1->Running())
        return;
    DosCommand1->Shutdown();
    // A converter that got to its end just now has left a whole clip.
    if (DosCommand1->ExitCode() != std::optional<int>(0))
        Files::DeleteFileQuietly(outputPath());
}

void TForm1::ProveriConverting()
{
    const std::int64_t size = Files::SizeOfWritableFile(outputPath());
    // A converter that failed or crashed half-way leaves a torn clip behind:
    // that is no success, whatever its size.
    const std::optional<int> converterEnd = DosCommand1->ExitCode();
    if (size < 2 || (converterEnd && *converterEnd != 0)) {
        Dialogs::ShowMessage("Unsucessufull converting, possible codec error. Please see codec list.");
        return;
    }
    Dialogs::ShowMessage("Sucessufull converting");
    FlvFileName = VratiImeNaFajl(OpenDialog1.FileName) + ".flv";
    ConvertDialog->Close();
    emit clipConverted(FlvFileName, ClipLength);
    hide();
}

void TForm1::PrikaziOutput(QObject*, std::string NewLine, TOutputType OutputType)
{
    if (OutputType == otEntireLine) {
        if (const auto length = TimeAfter(NewLine, "Duration: "))
            ConvertDialog->ReportLength(*length);
        if (const auto done = TimeAfter(NewLine, "time="))
            ConvertDialog->ReportProgress(*done);
    }
    if (ConvertOutput.size() < MaxConvertOutput)
        ConvertOutput += NewLine.substr(0, MaxConvertOutput - ConvertOutput.size());
}

void TForm1::ConvertZavrshi(QObject*)
{
    ClipLength = ClipLengthFromOutput(ConvertOutput);
    ConvertDialog->Close();
}
