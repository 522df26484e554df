// Run under Wine by tools/build-qt-mingw.sh --check: a widget shown offscreen,
// Polish text through Qt and a file name, a JPEG through libjpeg and Qt's
// plugin, and the Windows plugins loaded. The script greps the printed lines.
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPluginLoader>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace {

const QString kText = QStringLiteral("Zapis archiwum do pliku zakończony.");

void Print(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

QString Beside(const char* name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Decodes the first pixel as RGB. No C++ object lives in this frame, so the
// jump back from libjpeg's error handler skips no destructor.
bool DecodeFirstPixel(const unsigned char* data, unsigned long size, unsigned* width, unsigned* height,
                      unsigned char rgb[3]) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = OnJpegError;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *width = info.output_width;
    *height = info.output_height;
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                               info.output_width * info.output_components, 1);
    jpeg_read_scanlines(&info, row, 1);
    rgb[0] = row[0][0];
    rgb[1] = row[0][1];
    rgb[2] = row[0][2];
    jpeg_abort_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

class Check : public QObject {
    Q_OBJECT
private slots:
    void widgetIsShown() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        QLabel label(kText);
        label.resize(320, 40);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QCOMPARE(label.size(), QSize(320, 40));
        const QImage shot = label.grab().toImage();
        QCOMPARE(shot.size(), QSize(320, 40));
        Print(QStringLiteral("widget: %1 %2x%3 shown on %4, style %5")
                  .arg(QLatin1String(label.metaObject()->className()))
                  .arg(label.width())
                  .arg(label.height())
                  .arg(QGuiApplication::platformName(), label.style()->name()));
    }

    void polishTextRoundTrips() {
        QCOMPARE(kText.size(), 35);
        QCOMPARE(kText.at(28).unicode(), char16_t(0x0144)); // ń
        const QByteArray utf8 = kText.toUtf8();
        QCOMPARE(utf8.size(), 36);
        QCOMPARE(QString::fromUtf8(utf8), kText);
        QCOMPARE(QString::fromStdWString(kText.toStdWString()), kText);

        QLabel label;
        label.setText(kText);
        QCOMPARE(label.text(), kText);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile out(dir.filePath(QStringLiteral("zapis-ń.txt")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(utf8);
        out.close();
        QFile in(out.fileName());
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(in.readAll()), kText);
        Print(QStringLiteral("text: ") + label.text());
    }

    void jpegDecodesWithLibjpeg() {
        QFile file(Beside("red.jpg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();

        unsigned width = 0, height = 0;
        unsigned char rgb[3] = {};
        QVERIFY2(DecodeFirstPixel(reinterpret_cast<const unsigned char*>(data.constData()),
                                  static_cast<unsigned long>(data.size()), &width, &height, rgb),
                 "libjpeg refused the file");
        QCOMPARE(width, 1u);
        QCOMPARE(height, 1u);
        const QString pixel = QStringLiteral("rgb(%1,%2,%3)").arg(rgb[0]).arg(rgb[1]).arg(rgb[2]);
        QVERIFY2(rgb[0] > 200 && rgb[1] < 60 && rgb[2] < 60, qPrintable(pixel));
        Print(QStringLiteral("libjpeg %1: 1x1 %2").arg(JPEG_LIB_VERSION).arg(pixel));
    }

    void jpegDecodesWithQtPlugin() {
        QVERIFY(QImageReader::supportedImageFormats().contains("jpeg"));
        QVERIFY(QImageReader::supportedImageFormats().contains("png"));
        const QImage image(Beside("red.jpg"));
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(1, 1));
        const QColor c = image.pixelColor(0, 0);
        QVERIFY(c.red() > 200 && c.green() < 60 && c.blue() < 60);
    }

    void windowsPluginsLoad() {
        // The windows platform plugin needs a desktop to start, but loading
        // it resolves all it imports, which is where a broken one fails.
        QPluginLoader platform(Beside("platforms/qwindows.dll"));
        QVERIFY2(platform.load(), qPrintable(platform.errorString()));
        QCOMPARE(platform.metaData().value(QLatin1String("IID")).toString(),
                 QStringLiteral("org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3"));

        QVERIFY2(QStyleFactory::keys().contains(QStringLiteral("windowsvista")),
                 qPrintable(QStyleFactory::keys().join(QLatin1Char(' '))));
        std::unique_ptr<QStyle> style(QStyleFactory::create(QStringLiteral("windowsvista")));
        QVERIFY(style);
        QPushButton button(QStringLiteral("Zakończ"));
        button.setStyle(style.get());
        button.resize(100, 30);
        QVERIFY(!button.grab().isNull());
        Print(QStringLiteral("styles: ") + QStyleFactory::keys().join(QLatin1Char(' ')));
    }
};

QTEST_MAIN(Check)
#include "main.moc"
