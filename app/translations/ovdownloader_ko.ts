<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR" sourcelanguage="en">
<context>
    <name>DownloadWindow</name>
    <message>
        <source>Download progress</source>
        <translation>다운로드 진행률</translation>
    </message>
    <message>
        <source>Downloaded size</source>
        <translation>다운로드된 크기</translation>
    </message>
    <message>
        <source>Saved to</source>
        <translation>저장 위치</translation>
    </message>
    <message>
        <source>Start the download now</source>
        <translation>지금 다운로드 시작</translation>
    </message>
    <message>
        <source>Start Now</source>
        <translation>지금 시작</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>일시 중지</translation>
    </message>
    <message>
        <source>Cancel the download</source>
        <translation>다운로드 취소</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>취소</translation>
    </message>
    <message>
        <source>&amp;OVDownloader</source>
        <translation>&amp;OVDownloader</translation>
    </message>
    <message>
        <source>&amp;Close Window</source>
        <translation>창 닫기(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Quit OVDownloader</source>
        <translation>OVDownloader 종료(&amp;Q)</translation>
    </message>
</context>
<context>
    <name>Launcher</name>
    <message>
        <source>OVDownloader is already downloading in another window. Only one download can run at a time.</source>
        <translation>OVDownloader가 이미 다른 창에서 다운로드 중입니다. 한 번에 하나의 다운로드만 실행할 수 있습니다.</translation>
    </message>
</context>
<context>
    <name>OVDownloader</name>
    <message>
        <source>Orvalen %@ Downloader</source>
        <extracomment>IDS_CAPTION_BAR_TITLE</extracomment>
        <translation>Orvalen %@ 다운로더</translation>
    </message>
    <message>
        <source>Please wait for preparing your downloading...</source>
        <extracomment>IIDS_PREPARE_STATE</extracomment>
        <translation>다운로드를 준비하는 중입니다. 잠시 기다려 주십시오...</translation>
    </message>
    <message>
        <source>Your download will start in %d second(s).</source>
        <extracomment>IDS_COUNT_AUTO_DOWNLOAD</extracomment>
        <translation>%d초 후에 다운로드가 시작됩니다.</translation>
    </message>
    <message>
        <source>Your program is downloading now...</source>
        <extracomment>IDS_DOWNLOAD_STATE</extracomment>
        <translation>프로그램을 다운로드하는 중입니다...</translation>
    </message>
    <message>
        <source>%.02f MB of %.02f MB</source>
        <extracomment>IDS_SIZE_PROGRESS</extracomment>
        <translation>%.02f MB / %.02f MB</translation>
    </message>
    <message>
        <source>Download process is complete...</source>
        <extracomment>IDS_COMPLETE_STATE</extracomment>
        <translation>다운로드가 완료되었습니다...</translation>
    </message>
    <message>
        <source>Are you sure you want to cancel the download process?</source>
        <extracomment>IDS_LEAVEAPP</extracomment>
        <translation>다운로드를 취소하시겠습니까?</translation>
    </message>
    <message>
        <source>Orvalen Downloader could not complete the download process. Check your Internet connection and firewall settings, and then try again.</source>
        <extracomment>IDS_INTERNET_CONNECTION</extracomment>
        <translation>Orvalen Downloader가 다운로드를 완료하지 못했습니다. 인터넷 연결 및 방화벽 설정을 확인한 후 다시 시도하십시오.</translation>
    </message>
    <message>
        <source>Low disk space. Free up some disk space on your hard drive and then try again.</source>
        <extracomment>IDS_LOW_DISCSPACE</extracomment>
        <translation>디스크 공간이 부족합니다. 하드 드라이브의 공간을 확보한 후 다시 시도하십시오.</translation>
    </message>
    <message>
        <source>The %@ download is currently unavailable. Please try again later. If this issue persists, go to </source>
        <extracomment>IDS_SERVER_ERROR (first piece; the maker&apos;s web address follows)</extracomment>
        <translation>현재 %@ 다운로드를 사용할 수 없습니다. 나중에 다시 시도하십시오. 문제가 계속되면 </translation>
    </message>
    <message>
        <source> and try downloading it again.</source>
        <extracomment>IDS_SERVER_ERROR (second piece; follows the maker&apos;s web address)</extracomment>
        <translation> 에 접속하여 다시 다운로드해 보십시오.</translation>
    </message>
    <message>
        <source>There is a new version of the Downloader available. You must complete the update process to continue the download process. Select [Update] to get the new version now, or [Close] to exit the Downloader.</source>
        <extracomment>IDS_NEED_UPDATE</extracomment>
        <translation>새 버전의 Downloader를 사용할 수 있습니다. 다운로드를 계속하려면 업데이트를 완료해야 합니다. 지금 새 버전을 받으려면 [업데이트]를, Downloader를 종료하려면 [닫기]를 선택하십시오.</translation>
    </message>
    <message>
        <source>An error occurred during the download process and could not successfully complete. Do you want to try restarting the download process?</source>
        <extracomment>IDS_DOWNLOAD_ERROR</extracomment>
        <translation>다운로드 중에 오류가 발생하여 완료하지 못했습니다. 다운로드를 다시 시작하시겠습니까?</translation>
    </message>
    <message>
        <source>%@ requires macOS 10.14 or above to install. Please update your macOS before proceeding.</source>
        <extracomment>IDS_OS_ERROR</extracomment>
        <translation>%@을(를) 설치하려면 macOS 10.14 이상이 필요합니다. 계속하기 전에 macOS를 업데이트하십시오.</translation>
    </message>
    <message>
        <source>OK</source>
        <extracomment>IDS_BTNCAPTION_OK</extracomment>
        <translation>확인</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>IDS_BTNCAPTION_CANCEL</extracomment>
        <translation>취소</translation>
    </message>
    <message>
        <source>Pause</source>
        <extracomment>IDS_BTNCAPTION_PAUSE</extracomment>
        <translation>일시 중지</translation>
    </message>
    <message>
        <source>Resume</source>
        <extracomment>IDS_BTNCAPTION_RESUME</extracomment>
        <translation>계속</translation>
    </message>
    <message>
        <source>Retry</source>
        <extracomment>IDS_BTNCAPTION_RETRY</extracomment>
        <translation>다시 시도</translation>
    </message>
    <message>
        <source>Update</source>
        <extracomment>IDS_BTNCAPTION_UPDATE</extracomment>
        <translation>업데이트</translation>
    </message>
    <message>
        <source>Close</source>
        <extracomment>IDS_BTNCAPTION_CLOSE</extracomment>
        <translation>닫기</translation>
    </message>
    <message>
        <source>Yes</source>
        <extracomment>IDS_BTNCAPTION_YES</extracomment>
        <translation>예</translation>
    </message>
    <message>
        <source>No</source>
        <extracomment>IDS_BTNCAPTION_NO</extracomment>
        <translation>아니요</translation>
    </message>
</context>
<context>
    <name>ov::AlertDialog</name>
    <message>
        <source>Warning</source>
        <translation>경고</translation>
    </message>
</context>
<context>
    <name>ov::DownloadWindow</name>
    <message>
        <source>Show</source>
        <translation>보기</translation>
    </message>
</context>
<context>
    <name>ov::ProxyLoginDialog</name>
    <message>
        <source>Proxy Login</source>
        <translation>프록시 로그인</translation>
    </message>
    <message>
        <source>The proxy %1 did not accept the user name and password. Enter them again.</source>
        <translation>프록시 %1에서 사용자 이름과 암호를 받아들이지 않았습니다. 다시 입력하십시오.</translation>
    </message>
    <message>
        <source>The proxy %1 asks for a user name and password.</source>
        <translation>프록시 %1에서 사용자 이름과 암호를 요구합니다.</translation>
    </message>
    <message>
        <source>User name</source>
        <translation>사용자 이름</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>암호</translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation>사용자 이름(&amp;U):</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>암호(&amp;P):</translation>
    </message>
</context>
</TS>
