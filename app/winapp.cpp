#include "app/winapp.h"
#include "ui_winapp.h"

#include "platform/JpegImage.h"

#include <QFile>
#include <QIcon>

#include <exception>

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
}  // namespace

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
}

TForm1::~TForm1() = default;
