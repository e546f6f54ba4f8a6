<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES" sourcelanguage="en">
<context>
    <name>DownloadWindow</name>
    <message>
        <source>Download progress</source>
        <translation>Progreso de la descarga</translation>
    </message>
    <message>
        <source>Downloaded size</source>
        <translation>Tamaño descargado</translation>
    </message>
    <message>
        <source>Saved to</source>
        <translation>Se guarda en</translation>
    </message>
    <message>
        <source>Start the download now</source>
        <translation>Iniciar la descarga ahora</translation>
    </message>
    <message>
        <source>Start Now</source>
        <translation>Iniciar ahora</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pausar</translation>
    </message>
    <message>
        <source>Cancel the download</source>
        <translation>Cancelar la descarga</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>&amp;OVDownloader</source>
        <translation>&amp;OVDownloader</translation>
    </message>
    <message>
        <source>&amp;Close Window</source>
        <translation>&amp;Cerrar ventana</translation>
    </message>
    <message>
        <source>&amp;Quit OVDownloader</source>
        <translation>&amp;Salir de OVDownloader</translation>
    </message>
</context>
<context>
    <name>Launcher</name>
    <message>
        <source>OVDownloader is already downloading in another window. Only one download can run at a time.</source>
        <translation>OVDownloader ya está descargando en otra ventana. Solo puede haber una descarga a la vez.</translation>
    </message>
</context>
<context>
    <name>OVDownloader</name>
    <message>
        <source>Orvalen %@ Downloader</source>
        <extracomment>IDS_CAPTION_BAR_TITLE</extracomment>
        <translation>Descargador de Orvalen %@</translation>
    </message>
    <message>
        <source>Please wait for preparing your downloading...</source>
        <extracomment>IIDS_PREPARE_STATE</extracomment>
        <translation>Espere mientras se prepara la descarga...</translation>
    </message>
    <message>
        <source>Your download will start in %d second(s).</source>
        <extracomment>IDS_COUNT_AUTO_DOWNLOAD</extracomment>
        <translation>La descarga comenzará en %d segundo(s).</translation>
    </message>
    <message>
        <source>Your program is downloading now...</source>
        <extracomment>IDS_DOWNLOAD_STATE</extracomment>
        <translation>Su programa se está descargando...</translation>
    </message>
    <message>
        <source>%.02f MB of %.02f MB</source>
        <extracomment>IDS_SIZE_PROGRESS</extracomment>
        <translation>%.02f MB de %.02f MB</translation>
    </message>
    <message>
        <source>Download process is complete...</source>
        <extracomment>IDS_COMPLETE_STATE</extracomment>
        <translation>La descarga ha finalizado...</translation>
    </message>
    <message>
        <source>Are you sure you want to cancel the download process?</source>
        <extracomment>IDS_LEAVEAPP</extracomment>
        <translation>¿Seguro que desea cancelar la descarga?</translation>
    </message>
    <message>
        <source>Orvalen Downloader could not complete the download process. Check your Internet connection and firewall settings, and then try again.</source>
        <extracomment>IDS_INTERNET_CONNECTION</extracomment>
        <translation>Orvalen Downloader no pudo completar la descarga. Compruebe la conexión a Internet y la configuración del firewall, y vuelva a intentarlo.</translation>
    </message>
    <message>
        <source>Low disk space. Free up some disk space on your hard drive and then try again.</source>
        <extracomment>IDS_LOW_DISCSPACE</extracomment>
        <translation>Poco espacio en disco. Libere espacio en el disco duro y vuelva a intentarlo.</translation>
    </message>
    <message>
        <source>The %@ download is currently unavailable. Please try again later. If this issue persists, go to </source>
        <extracomment>IDS_SERVER_ERROR (first piece; the maker&apos;s web address follows)</extracomment>
        <translation>La descarga de %@ no está disponible en este momento. Inténtelo de nuevo más tarde. Si el problema persiste, vaya a </translation>
    </message>
    <message>
        <source> and try downloading it again.</source>
        <extracomment>IDS_SERVER_ERROR (second piece; follows the maker&apos;s web address)</extracomment>
        <translation> e intente descargarlo de nuevo.</translation>
    </message>
    <message>
        <source>There is a new version of the Downloader available. You must complete the update process to continue the download process. Select [Update] to get the new version now, or [Close] to exit the Downloader.</source>
        <extracomment>IDS_NEED_UPDATE</extracomment>
        <translation>Hay una nueva versión del Downloader disponible. Debe completar la actualización para continuar con la descarga. Seleccione [Actualizar] para obtener la nueva versión ahora o [Cerrar] para salir del Downloader.</translation>
    </message>
    <message>
        <source>An error occurred during the download process and could not successfully complete. Do you want to try restarting the download process?</source>
        <extracomment>IDS_DOWNLOAD_ERROR</extracomment>
        <translation>Se produjo un error durante la descarga y no se pudo completar. ¿Desea reiniciar la descarga?</translation>
    </message>
    <message>
        <source>%@ requires macOS 10.14 or above to install. Please update your macOS before proceeding.</source>
        <extracomment>IDS_OS_ERROR</extracomment>
        <translation>%@ requiere macOS 10.14 o posterior para instalarse. Actualice macOS antes de continuar.</translation>
    </message>
    <message>
        <source>OK</source>
        <extracomment>IDS_BTNCAPTION_OK</extracomment>
        <translation>Aceptar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>IDS_BTNCAPTION_CANCEL</extracomment>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Pause</source>
        <extracomment>IDS_BTNCAPTION_PAUSE</extracomment>
        <translation>Pausar</translation>
    </message>
    <message>
        <source>Resume</source>
        <extracomment>IDS_BTNCAPTION_RESUME</extracomment>
        <translation>Reanudar</translation>
    </message>
    <message>
        <source>Retry</source>
        <extracomment>IDS_BTNCAPTION_RETRY</extracomment>
        <translation>Reintentar</translation>
    </message>
    <message>
        <source>Update</source>
        <extracomment>IDS_BTNCAPTION_UPDATE</extracomment>
        <translation>Actualizar</translation>
    </message>
    <message>
        <source>Close</source>
        <extracomment>IDS_BTNCAPTION_CLOSE</extracomment>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Yes</source>
        <extracomment>IDS_BTNCAPTION_YES</extracomment>
        <translation>Sí</translation>
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
        <translation>Advertencia</translation>
    </message>
</context>
<context>
    <name>ov::DownloadWindow</name>
    <message>
        <source>Show</source>
        <translation>Mostrar</translation>
    </message>
</context>
<context>
    <name>ov::ProxyLoginDialog</name>
    <message>
        <source>Proxy Login</source>
        <translation>Inicio de sesión del proxy</translation>
    </message>
    <message>
        <source>The proxy %1 did not accept the user name and password. Enter them again.</source>
        <translation>El proxy %1 no ha aceptado el nombre de usuario y la contraseña. Vuelva a introducirlos.</translation>
    </message>
    <message>
        <source>The proxy %1 asks for a user name and password.</source>
        <translation>El proxy %1 solicita un nombre de usuario y una contraseña.</translation>
    </message>
    <message>
        <source>User name</source>
        <translation>Nombre de usuario</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Contraseña</translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation>&amp;Nombre de usuario:</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>&amp;Contraseña:</translation>
    </message>
</context>
</TS>
