#pragma once

#include "models/Enums.h"

#include <QHash>
#include <QWidget>

class QLabel;
class QPushButton;

namespace halvik {

class SourceControlService;

namespace views {

class ConnectSheet;
class ToneLabel;

// The Source Control section: one row per provider, who it is connected as, and the buttons
// that connect, reconnect or disconnect it.
class SourceControlPage : public QWidget
{
    Q_OBJECT
public:
    explicit SourceControlPage(SourceControlService& service, QWidget* parent = nullptr);

    QPushButton* connectButton(SourceControlProvider provider) const
    {
        return m_rows.value(provider).connect;
    }
    QPushButton* disconnectButton(SourceControlProvider provider) const
    {
        return m_rows.value(provider).disconnect;
    }
    QLabel* statusLabel(SourceControlProvider provider) const;
    // The sheet opened by the last Connect or Reconnect, while it is open.
    ConnectSheet* openSheet() const { return m_sheet; }

private:
    struct Row
    {
        QLabel* status = nullptr;
        QPushButton* connect = nullptr;
        QPushButton* disconnect = nullptr;
    };
    void sync();
    void openConnect(SourceControlProvider provider);

    SourceControlService& m_service;
    QHash<SourceControlProvider, Row> m_rows;
    ConnectSheet* m_sheet = nullptr;
};

} // namespace views
} // namespace halvik
