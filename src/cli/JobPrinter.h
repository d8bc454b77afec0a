#pragma once

#include <QObject>
#include <QString>
#include <QTextStream>

#include <unistd.h>

namespace halvik::cli {

// A foreground job's log as it grows: on a terminal with a progress bar kept on the last
// line, on a pipe just the lines. Works for any job with logAppended, progressChanged and
// finished signals, a log and a fraction.
template <typename Job> class JobPrinter : public QObject
{
public:
    JobPrinter(Job& job, QTextStream& stream, int fileDescriptor)
        : m_job(job), m_stream(stream), m_terminal(::isatty(fileDescriptor) == 1)
    {
        QObject::connect(&job, &Job::logAppended, this, [this](const QString& text, bool) {
            clearBar();
            m_stream << text << '\n';
            drawBar();
        });
        QObject::connect(&job, &Job::progressChanged, this, [this] {
            clearBar();
            drawBar();
        });
        if (!job.log().isEmpty())
            m_stream << job.log() << '\n';
        drawBar();
    }
    ~JobPrinter() override
    {
        clearBar();
        m_stream.flush();
    }

private:
    void clearBar()
    {
        if (m_terminal && m_barShown)
            m_stream << "\r\033[K";
        m_barShown = false;
    }
    void drawBar()
    {
        if (!m_terminal || m_job.isFinished()) {
            m_stream.flush();
            return;
        }
        const int width = 30;
        const int filled = int(m_job.fractionComplete() * width);
        m_stream << '[' << QString(filled, QLatin1Char('#')) << QString(width - filled, QLatin1Char('-'))
                 << "] " << int(m_job.fractionComplete() * 100) << '%';
        m_stream.flush();
        m_barShown = true;
    }

    Job& m_job;
    QTextStream& m_stream;
    bool m_terminal;
    bool m_barShown = false;
};

} // namespace halvik::cli
