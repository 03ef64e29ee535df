#include "QtClipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>

namespace {

const QMimeData* Current() {
    return QGuiApplication::clipboard()->mimeData();
}

QString Mime(const std::string& format) {
    return QString::fromStdString(TQtClipboard::MimeTypeOf(format));
}

} // namespace

std::string TQtClipboard::MimeTypeOf(const std::string& format) {
    return "application/x-qt-windows-mime;value=\"" + format + "\"";
}

bool TQtClipboard::HasFormat(const std::string& format) {
    const QMimeData* data = Current();
    return data && data->hasFormat(Mime(format));
}

bool TQtClipboard::GetFormat(const std::string& format, std::string& data) {
    const QMimeData* mime = Current();
    if (!mime || !mime->hasFormat(Mime(format))) return false;
    QByteArray bytes = mime->data(Mime(format));
    data.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

void TQtClipboard::SetFormat(const std::string& format, const std::string& data) {
    auto* mime = new QMimeData;
    mime->setData(Mime(format), QByteArray(data.data(), static_cast<qsizetype>(data.size())));
    QGuiApplication::clipboard()->setMimeData(mime); // the clipboard takes it
}

bool TQtClipboard::HasText() {
    const QMimeData* data = Current();
    return data && data->hasText();
}

std::string TQtClipboard::GetText() {
    return QGuiApplication::clipboard()->text().toStdString();
}

void TQtClipboard::SetText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

bool TQtClipboard::HasPicture() {
    const QMimeData* data = Current();
    return data && data->hasImage();
}
