#pragma once

#include <QString>

#include <cerrno>
#include <exception>

// The one error type that file and network operations throw. Its descriptions
// are German only, whatever the interface language.
class AppError : public std::exception {
public:
    enum class Kind {
        fileNotFound,
        unsupportedFormat,
        tagReadFailed,
        tagWriteFailed,
        networkError,
        aiError,
        cancelled,
        accessDenied
    };

    static AppError fileNotFound(const QString& url);
    static AppError unsupportedFormat(const QString& text);
    static AppError tagReadFailed(const QString& url, const QString& text);
    static AppError tagWriteFailed(const QString& url, const QString& text);
    static AppError networkError(const QString& text);
    static AppError aiError(const QString& text);
    static AppError cancelled();
    // The user may not read the file or folder, or not enter a folder on its path.
    static AppError accessDenied(const QString& url);

    // Whether the errno of a failed open says that access was denied (accessDenied).
    static bool isAccessDenial(int error) { return error == EACCES || error == EPERM; }

    Kind kind() const { return m_kind; }
    // The file path of the url-carrying cases, empty otherwise.
    const QString& url() const { return m_url; }
    // The text payload, empty for fileNotFound, accessDenied and cancelled.
    const QString& text() const { return m_text; }

    // The user-visible text.
    QString errorDescription() const;
    const char* what() const noexcept override { return m_what.constData(); }

    bool operator==(const AppError& other) const {
        return m_kind == other.m_kind && m_url == other.m_url && m_text == other.m_text;
    }

private:
    AppError(Kind kind, QString url, QString text);

    Kind m_kind;
    QString m_url;
    QString m_text;
    QByteArray m_what;
};
