#pragma once

#include "profilestore.h"

#include <QDialog>

#include <memory>

namespace Ui {
class ProfileManager;
}

class QModelIndex;

// The profile editor. It owns the profile store: its list shows the store's
// name model (which the main window's host selector shares), and Save and
// Delete change the store and write it at once.
class ProfileManager : public QDialog
{
    Q_OBJECT

public:
    explicit ProfileManager(QWidget *parent = nullptr);
    ~ProfileManager() override;

    // Connects the list and the buttons; the main window calls it once after
    // it has been shown.
    void initConnections();

    bool loadProfile(bool cbor = false);
    void updateModel();
    // Stores the password of the profile shown in the editor, then writes
    // every profile without its password.
    void saveProfile(bool cbor = false);

    // The policy's rules the dialog follows (set from Policy::current() when it is built).
    ProfileStore &profileStore();

private:
    ProfileStore store;

public:
    QJsonObject &profiles;
    QStringListModel *const model;
    KeyChainClass &keyChain;
    KeyChainClass &secretChain;

signals:
    void keyRestored(const QString &profile);
    // The credential store turned down a value the user saved; told once per run.
    void credentialStoreUnavailable();

private:
    void onCurrentRowChanged(const QModelIndex &current);
    void onNewClicked();
    void onSaveClicked();
    void onDeleteClicked();
    void setNameEditable(bool editable);
    void selectName(const QString &name);
    // What the policy allows for the profile shown (empty: a new one).
    void applyPolicy(const QString &name);

    std::unique_ptr<Ui::ProfileManager> ui;
    // The password and secret fields were filled from values restored into
    // memory.
    bool passwordShown = false;
    bool secretShown = false;
};
