<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT" sourcelanguage="en">
<context>
    <name>DownloadWindow</name>
    <message>
        <source>Download progress</source>
        <translation>Avanzamento del download</translation>
    </message>
    <message>
        <source>Downloaded size</source>
        <translation>Dimensione scaricata</translation>
    </message>
    <message>
        <source>Saved to</source>
        <translation>Salvato in</translation>
    </message>
    <message>
        <source>Start the download now</source>
        <translation>Avvia subito il download</translation>
    </message>
    <message>
        <source>Start Now</source>
        <translation>Avvia ora</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pausa</translation>
    </message>
    <message>
        <source>Cancel the download</source>
        <translation>Annulla il download</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annulla</translation>
    </message>
    <message>
        <source>&amp;OVDownloader</source>
        <translation>&amp;OVDownloader</translation>
    </message>
    <message>
        <source>&amp;Close Window</source>
        <translation>&amp;Chiudi finestra</translation>
    </message>
    <message>
        <source>&amp;Quit OVDownloader</source>
        <translation>&amp;Esci da OVDownloader</translation>
    </message>
</context>
<context>
    <name>Launcher</name>
    <message>
        <source>OVDownloader is already downloading in another window. Only one download can run at a time.</source>
        <translation>OVDownloader sta già scaricando in un&apos;altra finestra. È possibile eseguire un solo download alla volta.</translation>
    </message>
</context>
<context>
    <name>OVDownloader</name>
    <message>
        <source>Orvalen %@ Downloader</source>
        <extracomment>IDS_CAPTION_BAR_TITLE</extracomment>
        <translation>Downloader di Orvalen %@</translation>
    </message>
    <message>
        <source>Please wait for preparing your downloading...</source>
        <extracomment>IIDS_PREPARE_STATE</extracomment>
        <translation>Attendere, preparazione del download in corso...</translation>
    </message>
    <message>
        <source>Your download will start in %d second(s).</source>
        <extracomment>IDS_COUNT_AUTO_DOWNLOAD</extracomment>
        <translation>Il download inizierà tra %d secondo/i.</translation>
    </message>
    <message>
        <source>Your program is downloading now...</source>
        <extracomment>IDS_DOWNLOAD_STATE</extracomment>
        <translation>Il programma è in fase di download...</translation>
    </message>
    <message>
        <source>%.02f MB of %.02f MB</source>
        <extracomment>IDS_SIZE_PROGRESS</extracomment>
        <translation>%.02f MB di %.02f MB</translation>
    </message>
    <message>
        <source>Download process is complete...</source>
        <extracomment>IDS_COMPLETE_STATE</extracomment>
        <translation>Il download è stato completato...</translation>
    </message>
    <message>
        <source>Are you sure you want to cancel the download process?</source>
        <extracomment>IDS_LEAVEAPP</extracomment>
        <translation>Vuoi davvero annullare il download?</translation>
    </message>
    <message>
        <source>Orvalen Downloader could not complete the download process. Check your Internet connection and firewall settings, and then try again.</source>
        <extracomment>IDS_INTERNET_CONNECTION</extracomment>
        <translation>Orvalen Downloader non è riuscito a completare il download. Controlla la connessione a Internet e le impostazioni del firewall, quindi riprova.</translation>
    </message>
    <message>
        <source>Low disk space. Free up some disk space on your hard drive and then try again.</source>
        <extracomment>IDS_LOW_DISCSPACE</extracomment>
        <translation>Spazio su disco insufficiente. Libera spazio sul disco rigido, quindi riprova.</translation>
    </message>
    <message>
        <source>The %@ download is currently unavailable. Please try again later. If this issue persists, go to </source>
        <extracomment>IDS_SERVER_ERROR (first piece; the maker&apos;s web address follows)</extracomment>
        <translation>Il download di %@ non è al momento disponibile. Riprova più tardi. Se il problema persiste, visita </translation>
    </message>
    <message>
        <source> and try downloading it again.</source>
        <extracomment>IDS_SERVER_ERROR (second piece; follows the maker&apos;s web address)</extracomment>
        <translation> e prova di nuovo a scaricarlo.</translation>
    </message>
    <message>
        <source>There is a new version of the Downloader available. You must complete the update process to continue the download process. Select [Update] to get the new version now, or [Close] to exit the Downloader.</source>
        <extracomment>IDS_NEED_UPDATE</extracomment>
        <translation>È disponibile una nuova versione del Downloader. Per continuare il download è necessario completare l&apos;aggiornamento. Seleziona [Aggiorna] per ottenere subito la nuova versione oppure [Chiudi] per uscire dal Downloader.</translation>
    </message>
    <message>
        <source>An error occurred during the download process and could not successfully complete. Do you want to try restarting the download process?</source>
        <extracomment>IDS_DOWNLOAD_ERROR</extracomment>
        <translation>Si è verificato un errore durante il download, che non è stato completato. Vuoi riavviare il download?</translation>
    </message>
    <message>
        <source>%@ requires macOS 10.14 or above to install. Please update your macOS before proceeding.</source>
        <extracomment>IDS_OS_ERROR</extracomment>
        <translation>Per installare %@ è necessario macOS 10.14 o versione successiva. Aggiorna macOS prima di procedere.</translation>
    </message>
    <message>
        <source>OK</source>
        <extracomment>IDS_BTNCAPTION_OK</extracomment>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>IDS_BTNCAPTION_CANCEL</extracomment>
        <translation>Annulla</translation>
    </message>
    <message>
        <source>Pause</source>
        <extracomment>IDS_BTNCAPTION_PAUSE</extracomment>
        <translation>Pausa</translation>
    </message>
    <message>
        <source>Resume</source>
        <extracomment>IDS_BTNCAPTION_RESUME</extracomment>
        <translation>Riprendi</translation>
    </message>
    <message>
        <source>Retry</source>
        <extracomment>IDS_BTNCAPTION_RETRY</extracomment>
        <translation>Riprova</translation>
    </message>
    <message>
        <source>Update</source>
        <extracomment>IDS_BTNCAPTION_UPDATE</extracomment>
        <translation>Aggiorna</translation>
    </message>
    <message>
        <source>Close</source>
        <extracomment>IDS_BTNCAPTION_CLOSE</extracomment>
        <translation>Chiudi</translation>
    </message>
    <message>
        <source>Yes</source>
        <extracomment>IDS_BTNCAPTION_YES</extracomment>
        <translation>Sì</translation>
    </message>
    <message>
        <source>No</source>
        <extracomment>IDS_BTNCAPTION_NO</extracomment>
        <translation>No</translation>
    </message>
</context>
<context>
    <name>ov::AlertDialog</name>
    <message>
        <source>Warning</source>
        <translation>Avviso</translation>
    </message>
</context>
<context>
    <name>ov::DownloadWindow</name>
    <message>
        <source>Show</source>
        <translation>Mostra</translation>
    </message>
</context>
<context>
    <name>ov::ProxyLoginDialog</name>
    <message>
        <source>Proxy Login</source>
        <translation>Accesso al proxy</translation>
    </message>
    <message>
        <source>The proxy %1 did not accept the user name and password. Enter them again.</source>
        <translation>Il proxy %1 non ha accettato il nome utente e la password. Inseriscili di nuovo.</translation>
    </message>
    <message>
        <source>The proxy %1 asks for a user name and password.</source>
        <translation>Il proxy %1 richiede un nome utente e una password.</translation>
    </message>
    <message>
        <source>User name</source>
        <translation>Nome utente</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation>&amp;Nome utente:</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>&amp;Password:</translation>
    </message>
</context>
</TS>
