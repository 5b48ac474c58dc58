#include "model/AudioFormat.h"

#include <QFileInfo>

QString rawValue(AudioFormat format) {
    switch (format) {
    case AudioFormat::mp3:
        return QStringLiteral("mp3");
    case AudioFormat::flac:
        return QStringLiteral("flac");
    case AudioFormat::m4a:
        return QStringLiteral("m4a");
    case AudioFormat::aac:
        return QStringLiteral("aac");
    case AudioFormat::aiff:
        return QStringLiteral("aiff");
    case AudioFormat::aif:
        return QStringLiteral("aif");
    case AudioFormat::wav:
        return QStringLiteral("wav");
    case AudioFormat::ogg:
        return QStringLiteral("ogg");
    case AudioFormat::opus:
        return QStringLiteral("opus");
    case AudioFormat::wma:
        return QStringLiteral("wma");
    case AudioFormat::unknown:
        return {};
    }
    return {};
}

const QList<AudioFormat>& allAudioFormats() {
    static const QList<AudioFormat> all{AudioFormat::mp3, AudioFormat::flac,   AudioFormat::m4a,
                                        AudioFormat::aac, AudioFormat::aiff,   AudioFormat::aif,
                                        AudioFormat::wav, AudioFormat::ogg,    AudioFormat::opus,
                                        AudioFormat::wma, AudioFormat::unknown};
    return all;
}

std::optional<AudioFormat> audioFormatFromRawValue(const QString& raw) {
    for (AudioFormat format : allAudioFormats()) {
        if (rawValue(format) == raw) {
            return format;
        }
    }
    return std::nullopt;
}

AudioFormat audioFormatForPath(const QString& path) {
    return audioFormatFromRawValue(QFileInfo(path).suffix().toLower()).value_or(AudioFormat::unknown);
}

const QSet<QString>& supportedExtensions() {
    static const QSet<QString> extensions = [] {
        QSet<QString> set;
        for (AudioFormat format : allAudioFormats()) {
            if (format != AudioFormat::unknown) {
                set.insert(rawValue(format));
            }
        }
        return set;
    }();
    return extensions;
}

bool isWritableFormat(AudioFormat format) {
    switch (format) {
    case AudioFormat::mp3:
    case AudioFormat::flac:
    case AudioFormat::m4a:
    case AudioFormat::aac:
    case AudioFormat::aiff:
    case AudioFormat::aif:
    case AudioFormat::wav:
        return true;
    default:
        return false;
    }
}
