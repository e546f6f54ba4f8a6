<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW" sourcelanguage="en">
<context>
    <name>DownloadWindow</name>
    <message>
        <source>Download progress</source>
        <translation>下載進度</translation>
    </message>
    <message>
        <source>Downloaded size</source>
        <translation>已下載大小</translation>
    </message>
    <message>
        <source>Saved to</source>
        <translation>儲存位置</translation>
    </message>
    <message>
        <source>Start the download now</source>
        <translation>立即開始下載</translation>
    </message>
    <message>
        <source>Start Now</source>
        <translation>立即開始</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>暫停</translation>
    </message>
    <message>
        <source>Cancel the download</source>
        <translation>取消下載</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>&amp;OVDownloader</source>
        <translation>&amp;OVDownloader</translation>
    </message>
    <message>
        <source>&amp;Close Window</source>
        <translation>關閉視窗(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Quit OVDownloader</source>
        <translation>結束 OVDownloader(&amp;Q)</translation>
    </message>
</context>
<context>
    <name>Launcher</name>
    <message>
        <source>OVDownloader is already downloading in another window. Only one download can run at a time.</source>
        <translation>OVDownloader 已在另一個視窗中下載。一次只能執行一個下載。</translation>
    </message>
</context>
<context>
    <name>OVDownloader</name>
    <message>
        <source>Orvalen %@ Downloader</source>
        <extracomment>IDS_CAPTION_BAR_TITLE</extracomment>
        <translation>Orvalen %@ 下載器</translation>
    </message>
    <message>
        <source>Please wait for preparing your downloading...</source>
        <extracomment>IIDS_PREPARE_STATE</extracomment>
        <translation>正在準備下載，請稍候...</translation>
    </message>
    <message>
        <source>Your download will start in %d second(s).</source>
        <extracomment>IDS_COUNT_AUTO_DOWNLOAD</extracomment>
        <translation>下載將在 %d 秒後開始。</translation>
    </message>
    <message>
        <source>Your program is downloading now...</source>
        <extracomment>IDS_DOWNLOAD_STATE</extracomment>
        <translation>正在下載您的程式...</translation>
    </message>
    <message>
        <source>%.02f MB of %.02f MB</source>
        <extracomment>IDS_SIZE_PROGRESS</extracomment>
        <translation>%.02f MB / %.02f MB</translation>
    </message>
    <message>
        <source>Download process is complete...</source>
        <extracomment>IDS_COMPLETE_STATE</extracomment>
        <translation>下載已完成...</translation>
    </message>
    <message>
        <source>Are you sure you want to cancel the download process?</source>
        <extracomment>IDS_LEAVEAPP</extracomment>
        <translation>確定要取消下載嗎？</translation>
    </message>
    <message>
        <source>Orvalen Downloader could not complete the download process. Check your Internet connection and firewall settings, and then try again.</source>
        <extracomment>IDS_INTERNET_CONNECTION</extracomment>
        <translation>Orvalen Downloader 無法完成下載。請檢查您的網際網路連線和防火牆設定，然後再試一次。</translation>
    </message>
    <message>
        <source>Low disk space. Free up some disk space on your hard drive and then try again.</source>
        <extracomment>IDS_LOW_DISCSPACE</extracomment>
        <translation>磁碟空間不足。請釋放硬碟上的部分空間，然後再試一次。</translation>
    </message>
    <message>
        <source>The %@ download is currently unavailable. Please try again later. If this issue persists, go to </source>
        <extracomment>IDS_SERVER_ERROR (first piece; the maker&apos;s web address follows)</extracomment>
        <translation>%@ 下載目前無法使用。請稍後再試。如果此問題持續發生，請前往 </translation>
    </message>
    <message>
        <source> and try downloading it again.</source>
        <extracomment>IDS_SERVER_ERROR (second piece; follows the maker&apos;s web address)</extracomment>
        <translation> 並嘗試重新下載。</translation>
    </message>
    <message>
        <source>There is a new version of the Downloader available. You must complete the update process to continue the download process. Select [Update] to get the new version now, or [Close] to exit the Downloader.</source>
        <extracomment>IDS_NEED_UPDATE</extracomment>
        <translation>有新版本的 Downloader 可供使用。您必須完成更新才能繼續下載。選擇 [更新] 立即取得新版本，或選擇 [關閉] 結束 Downloader。</translation>
    </message>
    <message>
        <source>An error occurred during the download process and could not successfully complete. Do you want to try restarting the download process?</source>
        <extracomment>IDS_DOWNLOAD_ERROR</extracomment>
        <translation>下載過程中發生錯誤，無法完成下載。是否要重新開始下載？</translation>
    </message>
    <message>
        <source>%@ requires macOS 10.14 or above to install. Please update your macOS before proceeding.</source>
        <extracomment>IDS_OS_ERROR</extracomment>
        <translation>安裝 %@ 需要 macOS 10.14 或更新版本。請先更新 macOS，然後再繼續。</translation>
    </message>
    <message>
        <source>OK</source>
        <extracomment>IDS_BTNCAPTION_OK</extracomment>
        <translation>確定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>IDS_BTNCAPTION_CANCEL</extracomment>
        <translation>取消</translation>
    </message>
    <message>
        <source>Pause</source>
        <extracomment>IDS_BTNCAPTION_PAUSE</extracomment>
        <translation>暫停</translation>
    </message>
    <message>
        <source>Resume</source>
        <extracomment>IDS_BTNCAPTION_RESUME</extracomment>
        <translation>繼續</translation>
    </message>
    <message>
        <source>Retry</source>
        <extracomment>IDS_BTNCAPTION_RETRY</extracomment>
        <translation>重試</translation>
    </message>
    <message>
        <source>Update</source>
        <extracomment>IDS_BTNCAPTION_UPDATE</extracomment>
        <translation>更新</translation>
    </message>
    <message>
        <source>Close</source>
        <extracomment>IDS_BTNCAPTION_CLOSE</extracomment>
        <translation>關閉</translation>
    </message>
    <message>
        <source>Yes</source>
        <extracomment>IDS_BTNCAPTION_YES</extracomment>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <extracomment>IDS_BTNCAPTION_NO</extracomment>
        <translation>否</translation>
    </message>
</context>
<context>
    <name>ov::AlertDialog</name>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
</context>
<context>
    <name>ov::DownloadWindow</name>
    <message>
        <source>Show</source>
        <translation>顯示</translation>
    </message>
</context>
<context>
    <name>ov::ProxyLoginDialog</name>
    <message>
        <source>Proxy Login</source>
        <translation>代理伺服器登入</translation>
    </message>
    <message>
        <source>The proxy %1 did not accept the user name and password. Enter them again.</source>
        <translation>代理伺服器 %1 未接受該使用者名稱和密碼。請重新輸入。</translation>
    </message>
    <message>
        <source>The proxy %1 asks for a user name and password.</source>
        <translation>代理伺服器 %1 要求提供使用者名稱和密碼。</translation>
    </message>
    <message>
        <source>User name</source>
        <translation>使用者名稱</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密碼</translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation>使用者名稱(&amp;U):</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>密碼(&amp;P):</translation>
    </message>
</context>
</TS>
