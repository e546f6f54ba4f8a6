<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP" sourcelanguage="en">
<context>
    <name>DownloadWindow</name>
    <message>
        <source>Download progress</source>
        <translation>ダウンロードの進行状況</translation>
    </message>
    <message>
        <source>Downloaded size</source>
        <translation>ダウンロード済みサイズ</translation>
    </message>
    <message>
        <source>Saved to</source>
        <translation>保存先</translation>
    </message>
    <message>
        <source>Start the download now</source>
        <translation>今すぐダウンロードを開始</translation>
    </message>
    <message>
        <source>Start Now</source>
        <translation>今すぐ開始</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>一時停止</translation>
    </message>
    <message>
        <source>Cancel the download</source>
        <translation>ダウンロードをキャンセル</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>&amp;OVDownloader</source>
        <translation>&amp;OVDownloader</translation>
    </message>
    <message>
        <source>&amp;Close Window</source>
        <translation>ウィンドウを閉じる(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Quit OVDownloader</source>
        <translation>OVDownloader を終了(&amp;Q)</translation>
    </message>
</context>
<context>
    <name>Launcher</name>
    <message>
        <source>OVDownloader is already downloading in another window. Only one download can run at a time.</source>
        <translation>OVDownloader は別のウィンドウで既にダウンロード中です。同時に実行できるダウンロードは 1 つだけです。</translation>
    </message>
</context>
<context>
    <name>OVDownloader</name>
    <message>
        <source>Orvalen %@ Downloader</source>
        <extracomment>IDS_CAPTION_BAR_TITLE</extracomment>
        <translation>Orvalen %@ ダウンローダー</translation>
    </message>
    <message>
        <source>Please wait for preparing your downloading...</source>
        <extracomment>IIDS_PREPARE_STATE</extracomment>
        <translation>ダウンロードの準備をしています。しばらくお待ちください...</translation>
    </message>
    <message>
        <source>Your download will start in %d second(s).</source>
        <extracomment>IDS_COUNT_AUTO_DOWNLOAD</extracomment>
        <translation>ダウンロードは %d 秒後に開始されます。</translation>
    </message>
    <message>
        <source>Your program is downloading now...</source>
        <extracomment>IDS_DOWNLOAD_STATE</extracomment>
        <translation>プログラムをダウンロードしています...</translation>
    </message>
    <message>
        <source>%.02f MB of %.02f MB</source>
        <extracomment>IDS_SIZE_PROGRESS</extracomment>
        <translation>%.02f MB / %.02f MB</translation>
    </message>
    <message>
        <source>Download process is complete...</source>
        <extracomment>IDS_COMPLETE_STATE</extracomment>
        <translation>ダウンロードが完了しました...</translation>
    </message>
    <message>
        <source>Are you sure you want to cancel the download process?</source>
        <extracomment>IDS_LEAVEAPP</extracomment>
        <translation>ダウンロードをキャンセルしてもよろしいですか?</translation>
    </message>
    <message>
        <source>Orvalen Downloader could not complete the download process. Check your Internet connection and firewall settings, and then try again.</source>
        <extracomment>IDS_INTERNET_CONNECTION</extracomment>
        <translation>Orvalen Downloader はダウンロードを完了できませんでした。インターネット接続とファイアウォールの設定を確認してから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>Low disk space. Free up some disk space on your hard drive and then try again.</source>
        <extracomment>IDS_LOW_DISCSPACE</extracomment>
        <translation>ディスクの空き容量が不足しています。ハードディスクの空き容量を増やしてから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>The %@ download is currently unavailable. Please try again later. If this issue persists, go to </source>
        <extracomment>IDS_SERVER_ERROR (first piece; the maker&apos;s web address follows)</extracomment>
        <translation>%@ のダウンロードは現在ご利用いただけません。しばらくしてからもう一度お試しください。問題が解決しない場合は、</translation>
    </message>
    <message>
        <source> and try downloading it again.</source>
        <extracomment>IDS_SERVER_ERROR (second piece; follows the maker&apos;s web address)</extracomment>
        <translation> にアクセスして、もう一度ダウンロードしてください。</translation>
    </message>
    <message>
        <source>There is a new version of the Downloader available. You must complete the update process to continue the download process. Select [Update] to get the new version now, or [Close] to exit the Downloader.</source>
        <extracomment>IDS_NEED_UPDATE</extracomment>
        <translation>新しいバージョンの Downloader があります。ダウンロードを続行するには、アップデートを完了する必要があります。今すぐ新しいバージョンを入手するには [アップデート] を、Downloader を終了するには [閉じる] を選択してください。</translation>
    </message>
    <message>
        <source>An error occurred during the download process and could not successfully complete. Do you want to try restarting the download process?</source>
        <extracomment>IDS_DOWNLOAD_ERROR</extracomment>
        <translation>ダウンロード中にエラーが発生したため、完了できませんでした。ダウンロードを最初からやり直しますか?</translation>
    </message>
    <message>
        <source>%@ requires macOS 10.14 or above to install. Please update your macOS before proceeding.</source>
        <extracomment>IDS_OS_ERROR</extracomment>
        <translation>%@ をインストールするには macOS 10.14 以降が必要です。続行する前に macOS をアップデートしてください。</translation>
    </message>
    <message>
        <source>OK</source>
        <extracomment>IDS_BTNCAPTION_OK</extracomment>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>IDS_BTNCAPTION_CANCEL</extracomment>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Pause</source>
        <extracomment>IDS_BTNCAPTION_PAUSE</extracomment>
        <translation>一時停止</translation>
    </message>
    <message>
        <source>Resume</source>
        <extracomment>IDS_BTNCAPTION_RESUME</extracomment>
        <translation>再開</translation>
    </message>
    <message>
        <source>Retry</source>
        <extracomment>IDS_BTNCAPTION_RETRY</extracomment>
        <translation>再試行</translation>
    </message>
    <message>
        <source>Update</source>
        <extracomment>IDS_BTNCAPTION_UPDATE</extracomment>
        <translation>アップデート</translation>
    </message>
    <message>
        <source>Close</source>
        <extracomment>IDS_BTNCAPTION_CLOSE</extracomment>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Yes</source>
        <extracomment>IDS_BTNCAPTION_YES</extracomment>
        <translation>はい</translation>
    </message>
    <message>
        <source>No</source>
        <extracomment>IDS_BTNCAPTION_NO</extracomment>
        <translation>いいえ</translation>
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
        <translation>表示</translation>
    </message>
</context>
<context>
    <name>ov::ProxyLoginDialog</name>
    <message>
        <source>Proxy Login</source>
        <translation>プロキシのログイン</translation>
    </message>
    <message>
        <source>The proxy %1 did not accept the user name and password. Enter them again.</source>
        <translation>プロキシ %1 はユーザー名とパスワードを受け付けませんでした。もう一度入力してください。</translation>
    </message>
    <message>
        <source>The proxy %1 asks for a user name and password.</source>
        <translation>プロキシ %1 がユーザー名とパスワードを求めています。</translation>
    </message>
    <message>
        <source>User name</source>
        <translation>ユーザー名</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>パスワード</translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation>ユーザー名(&amp;U):</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>パスワード(&amp;P):</translation>
    </message>
</context>
</TS>
