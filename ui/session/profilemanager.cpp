#include "profilemanager.h"
#include "ui_profilemanager.h"

#include "messageboxes.h"
#include "policy.h"

#include <QItemSelectionModel>
#include <QStringListModel>

namespace {
QString trimmedText(const QLineEdit *edit)
{
    return edit->text().trimmed();
}
} // namespace

ProfileManager::ProfileManager(QWidget *parent)
    : QDialog(parent)
    , profiles(store.profiles)
    , model(store.model)
    , keyChain(store.keyChain)
    , secretChain(store.secretChain)
    , ui(std::make_unique<Ui::ProfileManager>())
{
    ui->setupUi(this);
    ui->listProfile->setModel(model);
    setFixedSize(426, 370);

    store.setPolicy(Policy::current());
    // Passwords the administrator does not let the program keep are asked
    // for at each connection instead.
    if (!store.passwordsKept())
        ui->formLayout->setRowVisible(ui->lineEditPassword, false);
    applyPolicy(QString());

    connect(&store, &ProfileStore::keyRestored, this, &ProfileManager::keyRestored);
    connect(&store, &ProfileStore::credentialStoreUnavailable, this, &ProfileManager::credentialStoreUnavailable);
    // A failed profile file is the main window's business: the box belongs to it.
    connect(&store, &ProfileStore::fileFailed, this,
            [this](const QString &text) { MessageBoxes::showError(parentWidget(), text); });
}

ProfileManager::~ProfileManager() = default;

ProfileStore &ProfileManager::profileStore()
{
    return store;
}

void ProfileManager::applyPolicy(const QString &name)
{
    const bool administrators = store.isAdministrators(name);
    const QString setByAdministrator = administrators ? Policy::setByAdministratorText() : QString();
    for (QLineEdit *edit : {ui->lineEditHost, ui->lineEditGroup}) {
        edit->setEnabled(!administrators);
        edit->setClearButtonEnabled(!administrators);
        edit->setToolTip(setByAdministrator);
    }
    ui->buttonDelete->setToolTip(setByAdministrator);
    if (administrators)
        ui->buttonDelete->setEnabled(false);
    if (!store.userProfilesAllowed()) {
        ui->buttonNew->setEnabled(false);
        // Only the administrator's gateways exist: the blank form has
        // nothing to fill in.
        const bool blank = name.isEmpty();
        for (QLineEdit *edit : {ui->lineEditUsername, ui->lineEditPassword, ui->lineEditSecretkey})
            edit->setEnabled(!blank);
        if (blank) {
            setNameEditable(false);
            ui->lineEditHost->setEnabled(false);
            ui->lineEditGroup->setEnabled(false);
        }
        ui->buttonSave->setEnabled(!blank);
    }
}

bool ProfileManager::loadProfile(bool cbor)
{
    return store.loadProfile(cbor);
}

void ProfileManager::updateModel()
{
    store.updateModel();
}

void ProfileManager::saveProfile(bool cbor)
{
    const QString name = trimmedText(ui->lineEditName);
    // Only a password that is known is written: a profile whose password was
    // never restored shows an empty field, and writing that would wipe the
    // stored one.
    const bool known = profiles.value(name).toObject().contains(QLatin1String("password"));
    store.saveProfile(known ? name : QString(), trimmedText(ui->lineEditPassword), cbor);
}

void ProfileManager::initConnections()
{
    ui->listProfile->setCurrentIndex(QModelIndex());
    connect(ui->listProfile->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &ProfileManager::onCurrentRowChanged);
    connect(ui->buttonSave, &QPushButton::clicked, this, &ProfileManager::onSaveClicked);
    connect(ui->buttonNew, &QPushButton::clicked, this, &ProfileManager::onNewClicked);
    connect(ui->buttonDelete, &QPushButton::clicked, this, &ProfileManager::onDeleteClicked);
    // With the administrator's gateways only, the dialog opens on the first.
    if (!store.userProfilesAllowed() && model->rowCount() > 0)
        ui->listProfile->setCurrentIndex(model->index(0));
}

void ProfileManager::setNameEditable(bool editable)
{
    ui->lineEditName->setEnabled(editable);
    ui->lineEditName->setClearButtonEnabled(editable);
}

void ProfileManager::selectName(const QString &name)
{
    const int row = model->stringList().indexOf(name);
    ui->listProfile->setCurrentIndex(row < 0 ? QModelIndex() : model->index(row));
}

void ProfileManager::onCurrentRowChanged(const QModelIndex &current)
{
    const QString name = current.data(Qt::DisplayRole).toString();
    if (name.isEmpty())
        return;

    ui->buttonNew->setEnabled(true);
    ui->buttonDelete->setEnabled(true);
    setNameEditable(false);

    // Re-selecting the profile already shown keeps any unsaved edits.
    if (ui->lineEditName->text() == name) {
        applyPolicy(name);
        return;
    }

    const QJsonObject profile = profiles.value(name).toObject();
    const std::pair<QLineEdit *, QString> fields[] = {
        {ui->lineEditName, name},
        {ui->lineEditHost, profile.value(QLatin1String("host")).toString()},
        {ui->lineEditUsername, profile.value(QLatin1String("username")).toString()},
        {ui->lineEditPassword, profile.value(QLatin1String("password")).toString()},
        {ui->lineEditGroup, profile.value(QLatin1String("group")).toString()},
        {ui->lineEditSecretkey, profile.value(QLatin1String("secret")).toString()},
    };
    for (const auto &[edit, text] : fields) {
        edit->setText(text);
        // A long host shows from its start, not from where the cursor was left.
        edit->setCursorPosition(0);
    }
    passwordShown = profile.contains(QLatin1String("password"));
    secretShown = profile.contains(QLatin1String("secret"));
    applyPolicy(name);
}

void ProfileManager::onNewClicked()
{
    ui->listProfile->selectionModel()->clear();
    ui->listProfile->setCurrentIndex(QModelIndex());

    ui->buttonNew->setEnabled(false);
    ui->buttonDelete->setEnabled(false);
    setNameEditable(true);

    passwordShown = false;
    secretShown = false;
    ui->lineEditName->clear();
    ui->lineEditHost->clear();
    ui->lineEditUsername->clear();
    ui->lineEditPassword->clear();
    ui->lineEditGroup->clear();
    ui->lineEditSecretkey->clear();
    // Clearing counts as an edit; only what the user types should.
    ui->lineEditPassword->setModified(false);
    ui->lineEditSecretkey->setModified(false);
    applyPolicy(QString());
}

void ProfileManager::onSaveClicked()
{
    const QString name = trimmedText(ui->lineEditName);
    const QString host = trimmedText(ui->lineEditHost);
    const QString username = trimmedText(ui->lineEditUsername);
    // The "required" placeholders already mark what is missing.
    if (name.isEmpty() || host.isEmpty() || username.isEmpty())
        return;
    // Without user profiles only the administrator's can be saved.
    if (!store.userProfilesAllowed() && !profiles.contains(name))
        return;
    const QString password = trimmedText(ui->lineEditPassword);

    // The notice is about saved passwords: none are without them.
    if (profiles.isEmpty() && store.passwordsKept()) {
        MessageBoxes::showTips(
            this, tr("This software can save passwords in the Keychain of the operating system to avoid plaintext "
                     "passwords, but you should evaluate whether your usage scenarios allow saving passwords and "
                     "avoid potential security risks."));
    }

    // A credential field speaks for the profile only when the user typed in
    // it or it showed the restored value. An empty field over a value that
    // has not been read back (a locked or slow store) would wipe it. A new
    // profile has nothing to wipe: its credentials are stored as typed, empty
    // ones too, so that the next start reads its password back (and logs on
    // automatically with it).
    const bool isNew = !profiles.contains(name);
    const QJsonObject previous = profiles.value(name).toObject();
    const QString secret = trimmedText(ui->lineEditSecretkey);
    ProfileCredentials credentials;
    if (store.passwordsKept() && (isNew || ui->lineEditPassword->isModified() || passwordShown))
        credentials.password = password;
    if (isNew || ui->lineEditSecretkey->isModified() || secretShown)
        credentials.secret = secret;
    // The administrator's host and group, whatever the fields show.
    const bool administrators = store.isAdministrators(name);
    QJsonObject profile{
        {QStringLiteral("host"), administrators ? previous.value(QLatin1String("host")).toString() : host},
        {QStringLiteral("username"), username},
        {QStringLiteral("group"),
         administrators ? previous.value(QLatin1String("group")).toString() : trimmedText(ui->lineEditGroup)},
    };
    const std::pair<QString, const std::optional<QString> *> members[] = {
        {QStringLiteral("password"), &credentials.password},
        {QStringLiteral("secret"), &credentials.secret},
    };
    for (const auto &[member, value] : members) {
        if (value->has_value())
            profile.insert(member, **value);
        else if (previous.contains(member))
            profile.insert(member, previous.value(member));
    }
    profiles.insert(name, profile);
    updateModel();
    selectName(name);

    close();
    store.saveProfile(name, credentials);
}

void ProfileManager::onDeleteClicked()
{
    const QString name = ui->lineEditName->text();
    if (store.isAdministrators(name))
        return;
    profiles.remove(name);
    updateModel();

    if (!profiles.isEmpty())
        ui->listProfile->setCurrentIndex(model->index(0));
    else
        onNewClicked();

    saveProfile();
    store.forgetCredentials(name);
}
