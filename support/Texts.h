// Every text the installer writes to its log or shows in an error box, in one place.
//
// They are UTF-8 here and reach the narrow encoding through platform::narrowText() where
// they are used (the log and the error box do that themselves). The help links' display
// forms are build-time settings and are joined in by the compiler.
#pragma once

#include "BuildConfig.h"

namespace vestrel::text {

#define VESTREL_CONTACT "Либо обратитесь к разработчикам через дискорд-сервер или группу Вконтакте."

// ---- Log records ----------------------------------------------------------------------
inline constexpr char kStartBanner[] =
    "[%d-%d-%d-%d-%d-%d] Vestrel Installer Log запущен!\n--------------\n\n";
inline constexpr char kLineRecord[] = "[%d-%d-%d-%d-%d-%d] %s\n";
inline constexpr char kEndBanner[] =
    "\n--------------\n[%d-%d-%d-%d-%d-%d] Vestrel Installer Log завершил работу!\n";

// ---- Error box ------------------------------------------------------------------------
inline constexpr char kErrorTitle[] = "Ошибка";

// ---- Start-up and screen --------------------------------------------------------------
inline constexpr char kWindowCreateFailed[] =
    "Произошла ошибка при создании окна!\nПожалуйста, перезапустите лаунчер.";
inline constexpr char kPathChosen[] = "[ПРОЦЕСС] Путь выбран.";
// A remembered folder that could not be made or written at start-up (the folder, the system's
// reason): it is forgotten, and this is the first line of the log of the folder chosen instead.
inline constexpr char kRememberedFolderForgotten[] =
    "[ОШИБКА] Запомненная папка установки %s недоступна (%s) и забыта";
// Drawn by the screen (UTF-8, as the GUI takes it).
inline constexpr char kChooserTitle[] = "Выберите путь для установки лаунчера";
inline constexpr char kLaunchLabel[] = "ЗАПУСК";
// The line above the full layout's bar: the check, then the download (fetched, expected,
// speed), with the time left once it is known.
inline constexpr char kCheckProgress[] = "Проверено файлов: %s из %s";
inline constexpr char kDownloadProgress[] = "Загружено %s из %s · %s/с";
inline constexpr char kTimeLeft[] = " · осталось %s";
inline constexpr char kMegabytes[] = "%s МБ";
inline constexpr char kHoursMinutes[] = "%d ч %d мин";
inline constexpr char kMinutesSeconds[] = "%d мин %d с";
inline constexpr char kSeconds[] = "%d с";
inline constexpr char kAlreadyRunning[] = "Установщик уже запущен.";

// ---- Transfers ------------------------------------------------------------------------
inline constexpr char kDownloaded[] = "[ЗАГРУЗКА] %s";

inline constexpr char kHashListSslError[] =
    "\n[ОШИБКА] Во время загрузки целостного списка произошла ошибка (SSL Connect Error) "
    "(VTNetwork)";
inline constexpr char kHashListOtherError[] =
    "\n[ОШИБКА] Во время загрузки целостного списка произошла неизвестная ошибка (%s) "
    "(VTNetwork)";
inline constexpr char kDirListSslError[] =
    "\n[ОШИБКА] Во время загрузки списка директорий произошла ошибка (SSL Connect Error) "
    "(VTNetwork)";
inline constexpr char kDirListOtherError[] =
    "\n[ОШИБКА] Во время загрузки списка директорий произошла неизвестная ошибка (%s) "
    "(VTNetwork)";
inline constexpr char kFileListSslError[] =
    "\n[ОШИБКА] Во время загрузки списка файлов произошла ошибка (SSL Connect Error) "
    "(VTNetwork)";
inline constexpr char kFileListOtherError[] =
    "\n[ОШИБКА] Во время загрузки списка файлов произошла неизвестная ошибка (%s) "
    "(VTNetwork)";
inline constexpr char kFileSslError[] =
    "\n[ОШИБКА] Во время загрузки файла произошла ошибка (SSL Connect Error) (VTNetwork)";
inline constexpr char kFileOtherError[] =
    "\n[ОШИБКА] Во время загрузки файла произошла неизвестная ошибка (%s) (VTNetwork)";
inline constexpr char kCurlInitError[] =
    "\n[ОШИБКА] Во время инициализации libcurl произошла ошибка (VTNetwork)";

inline constexpr char kSslHint[] =
    "[^] Попробуйте решить проблему при помощи данного гайда - " VESTREL_SSL_HELP_LINK ".\n";
inline constexpr char kGeneralHint[] =
    "[^] Попробуйте решить проблему при помощи гайда на форуме - " VESTREL_GENERAL_HELP_LINK ".\n";

inline constexpr char kSslErrorBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: SSL Connect Error\n\n"
    "Примечание: Попробуйте решить проблему при помощи данного гайда - " VESTREL_SSL_HELP_LINK
    ".\n" VESTREL_CONTACT;
inline constexpr char kOtherErrorBox[] =
    "Во время работы авто-апдейтера произошла неизвестная ошибка:\nОшибка: %s\n\n"
    "Примечание: Попробуйте решить проблему при помощи гайда на форуме - " VESTREL_GENERAL_HELP_LINK
    ".\n" VESTREL_CONTACT;
// The proxy the run goes through, logged once, and a proxy that would not let the run in.
inline constexpr char kProxyInUse[] = "[ПРОКСИ] Соединение через прокси-сервер %s (%s)";
inline constexpr char kProxyNone[] = "[ПРОКСИ] Соединение без прокси-сервера (%s)";
inline constexpr char kProxyFromSettings[] = "настройки системы";
inline constexpr char kProxyDetected[] = "автоматическое определение";
inline constexpr char kProxyFromScript[] = "сценарий настройки %s";
// Auto-detection or the script gave no answer in time: the manual settings are used.
inline constexpr char kProxyLookupTimedOut[] =
    "[ПРОКСИ] Автоматическое определение прокси-сервера не ответило за %d с, используются "
    "заданные настройки";
inline constexpr char kProxyRefusedLogin[] =
    "\n[ОШИБКА] Прокси-сервер %s требует входа и не принял учётную запись пользователя "
    "(VTNetwork)";
inline constexpr char kProxyRefusedLoginBox[] =
    "Прокси-сервер %s требует входа, но не принял вашу учётную запись.\n\n"
    "Примечание: Проверьте настройки прокси-сервера в свойствах обозревателя или обратитесь к "
    "администратору сети.\n" VESTREL_CONTACT;
inline constexpr char kCurlInitErrorBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: libCURL initialization failed\n\n"
    "Примечание: Попробуйте решить проблему при помощи гайда на форуме - " VESTREL_GENERAL_HELP_LINK
    ".\n" VESTREL_CONTACT;

// ---- Directory preparation and workers -------------------------------------------------
inline constexpr char kRepositoryFailedBox[] =
    "Не удалось загрузить репозиторий.\nВозможно сервер на тех. работах или перегружен. "
    "Попробуйте позже.";
inline constexpr char kDirListFailed[] =
    "[ОШИБКА] Не удалось загрузить список директорий для создания.";
inline constexpr char kChecking[] = "[ПРОВЕРКА] %s";
inline constexpr char kVerifyFailed[] = "[ОШИБКА] Во время проверки файлов произошла ошибка.";
inline constexpr char kFileFailed[] = "[ОШИБКА] Не удалось загрузить файл (%s)";

// A server list that would reach outside the install folder, or does not fit the tables.
inline constexpr char kBadListLine[] = "[ОШИБКА] Недопустимая строка в списке %s: %s";
inline constexpr char kListTooLarge[] = "[ОШИБКА] Список %s слишком большой (больше %d байт)";
// A downloaded file that no listed digest vouches for (it has been deleted).
inline constexpr char kDownloadMismatch[] =
    "[ОШИБКА] Загруженный файл %s не совпадает ни с одной контрольной суммой";
inline constexpr char kBadListBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: сервер прислал недопустимый "
    "список файлов.\n\n" VESTREL_CONTACT;
// A folder that cannot be created or a walk that cannot go on (the operation, the path and
// the system's reason).
inline constexpr char kFolderCreateFailed[] = "[ОШИБКА] Не удалось создать папку %s (%s)";
inline constexpr char kFolderCreateFailedBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: не удалось создать папку "
    "установки.\n\n" VESTREL_CONTACT;
inline constexpr char kFolderTooLong[] = "[ОШИБКА] Слишком длинный путь установки: %s";
inline constexpr char kWalkFailed[] = "[ОШИБКА] Ошибка при проверке %s (%s)";
inline constexpr char kWalkFailedBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: не удалось проверить файлы "
    "установки.\n\n" VESTREL_CONTACT;
inline constexpr char kWorkerStartFailed[] = "[ОШИБКА] Не удалось запустить рабочий поток.";
inline constexpr char kLocalFileFailed[] = "не удалось открыть файл %s для записи: %s";
inline constexpr char kLocalFileWriteFailed[] = "не удалось записать файл %s: %s";

// ---- Safe updates ---------------------------------------------------------------------
// A file list with lines but a digest list without any: nothing could ever be verified.
inline constexpr char kNoDigestsListed[] =
    "[ОШИБКА] Список uhash.lists пуст, хотя список ufile.lists называет файлы";
// The programs are started only when this run has verified them.
inline constexpr char kStartableNotListed[] =
    "[ОШИБКА] Файл %s не указан в списке файлов сервера, запуск невозможен";
inline constexpr char kStartableNotVerified[] =
    "[ОШИБКА] Файл %s не прошёл проверку в этом запуске, запуск невозможен";
inline constexpr char kReleaseIncompleteBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: выпуск лаунчера на сервере "
    "неполон.\n\n" VESTREL_CONTACT;
// A listed file that cannot be read counts as wrong and is fetched again.
inline constexpr char kUnreadableFile[] =
    "[ОШИБКА] Не удалось прочитать файл %s (%s), он будет загружен заново";
// A folder of the install folder that cannot be read is passed over.
inline constexpr char kUnreadableFolder[] =
    "[ОШИБКА] Не удалось прочитать папку %s (%s), она пропущена";
// A listed file that is a folder here, or a listed folder that is a file, is kept aside.
inline constexpr char kMovedAside[] = "[ПРОЦЕСС] %s мешает установке и перемещён в %s";
inline constexpr char kMoveAsideFailed[] = "[ОШИБКА] Не удалось переместить %s (%s)";
// What an interrupted run left behind: removed, or kept to go on from, and going on.
inline constexpr char kLeftoverRemoved[] = "[ПРОЦЕСС] Удалён незавершённый файл %s";
inline constexpr char kLeftoverKept[] =
    "[ПРОЦЕСС] Незавершённый файл %s сохранён, его загрузка будет продолжена";
inline constexpr char kDownloadResumed[] = "[ПРОЦЕСС] Загрузка %s продолжена с %.1f МБ";
// A file served as chunks: what of it came over the link, the rest from its old version.
inline constexpr char kChunkedDownloaded[] =
    "[ПРОЦЕСС] %s: получено %s МБ из %s МБ, остальное взято из прежней версии";
// A rename or removal refused because another program holds the file for a moment.
inline constexpr char kFileHeld[] =
    "[ПРОЦЕСС] Файл %s занят другой программой, повтор в течение 30 с";
// A program built with mirrors: which host failed and why, and the host the run went on to.
inline constexpr char kHostFailed[] = "[ОШИБКА] Сервер %s: %s";
inline constexpr char kHostChanged[] = "[ПРОЦЕСС] Загрузка продолжается с сервера %s";
// A host that asked to be left alone for a while (Retry-After), waited out without a box.
inline constexpr char kHostBusy[] = "[ПРОЦЕСС] Сервер %s занят, повтор через %lld с";
// No room for a download: its size when the server gave it, else only the folder.
inline constexpr char kDiskFull[] =
    "[ОШИБКА] Недостаточно места на диске для файла %s в папке %s (нужно ещё %.1f МБ)";
inline constexpr char kDiskFullUnknown[] =
    "[ОШИБКА] Недостаточно места на диске для файла %s в папке %s";
inline constexpr char kDiskFullBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: недостаточно места на диске.\n\n"
    "Папка установки: %s\nНужно ещё: %.1f МБ.\n\nОсвободите место на диске и запустите установщик "
    "снова.";
inline constexpr char kDiskFullUnknownBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: недостаточно места на диске.\n\n"
    "Папка установки: %s\n\nОсвободите место на диске и запустите установщик снова.";

// ---- Launch control -------------------------------------------------------------------
inline constexpr char kUpdateToolNotFound[] =
    "\n[ОШИБКА] Во время запуска UpdateTool произошла ошибка (FILE_NOT_FOUND) (VTGUI)";
inline constexpr char kUpdateToolNotFoundHint[] =
    "[^] Вероятно, антивирус удалил файл UpdateTool (UpdateTool.exe). Пожалуйста добавьте "
    "файл в исключение";
inline constexpr char kAntivirusHint[] = "[^] либо отключите антивирус.\n";
inline constexpr char kUpdateToolNotFoundBox[] =
    "Во время запуска лаунчера произошла ошибка:\nОшибка: FILE_NOT_FOUND\n\nПримечание: "
    "Вероятно, антивирус удалил файл UpdateTool (UpdateTool.exe). Пожалуйста, добавьте "
    "требуемый файл в исключения антивируса либо отключите антивирус.\n\n" VESTREL_CONTACT;
inline constexpr char kUpdateToolDenied[] =
    "\n[ОШИБКА] Во время запуска UpdateTool произошла ошибка (ACCESS_DENIED) (VTGUI)";
inline constexpr char kUpdateToolDeniedHint[] =
    "[^] UpdateTool не может быть запущен, так как не имеет прав доступа, пожалуйста "
    "запустите UpdateTool от имени администратора.\n";
inline constexpr char kUpdateToolDeniedBox[] =
    "Во время запуска UpdateTool произошла ошибка:\nОшибка: ACCESS_DENIED\n\nПримечание: "
    "UpdateTool не может быть запущен из-за отсутствия требуемых прав доступа, пожалуйста "
    "запустите лаунчер от имени администратора.\n\n" VESTREL_CONTACT;
inline constexpr char kUpdateToolOther[] =
    "\n[ОШИБКА] Во время запуска UpdateTool произошла ошибка (%d) (VTGUI)";
inline constexpr char kUpdateToolOtherBox[] =
    "Во время запуска UpdateTool произошла неизвестная ошибка:\nОшибка: %d\n\nПримечание: "
    "Попробуйте решить проблему при помощи гайда на форуме - " VESTREL_GENERAL_HELP_LINK
    ".\n" VESTREL_CONTACT;

inline constexpr char kLauncherNotFound[] =
    "\n[ОШИБКА] Во время запуска лаунчера произошла ошибка (FILE_NOT_FOUND) (VTGUI)";
inline constexpr char kLauncherNotFoundHint[] =
    "[^] Вероятно, антивирус удалил файл лаунчера (process.exe). Пожалуйста добавьте файл в "
    "исключение";
inline constexpr char kLauncherNotFoundBox[] =
    "Во время запуска лаунчера произошла ошибка:\nОшибка: FILE_NOT_FOUND\n\nПримечание: "
    "Вероятно, антивирус удалил файл лаунчера (process.exe). Пожалуйста, добавьте требуемый "
    "файл в исключения антивируса либо отключите антивирус.\n\n" VESTREL_CONTACT;
inline constexpr char kLauncherDenied[] =
    "\n[ОШИБКА] Во время запуска лаунчера произошла ошибка (ACCESS_DENIED) (VTGUI)";
inline constexpr char kLauncherDeniedHint[] =
    "[^] Лаунчер не может быть запущен, так как не имеет прав доступа, пожалуйста запустите "
    "лаунчер от имени администратора.\n";
inline constexpr char kLauncherDeniedBox[] =
    "Во время запуска лаунчера произошла ошибка:\nОшибка: ACCESS_DENIED\n\nПримечание: "
    "Лаунчер не может быть запущен из-за отсутствия требуемых прав доступа, пожалуйста "
    "запустите лаунчер от имени администратора.\n\n" VESTREL_CONTACT;
inline constexpr char kLauncherOther[] =
    "\n[ОШИБКА] Во время запуска лаунчера произошла ошибка (%d) (VTGUI)";
inline constexpr char kLauncherOtherBox[] =
    "Во время запуска лаунчера произошла неизвестная ошибка:\nОшибка: %d\n\nПримечание: "
    "Попробуйте решить проблему при помощи гайда на форуме - " VESTREL_GENERAL_HELP_LINK
    ".\n" VESTREL_CONTACT;

inline constexpr char kDuplicateLauncher[] =
    "[ОШИБКА] Невозможен дублированный запуск лаунчера (VTGUI)";
inline constexpr char kDuplicateLauncherBox[] =
    "Во время запуска лаунчера произошла ошибка:\nОшибка: Невозможен запуск двух копий "
    "лаунчера.\n\nПримечание: Вероятно, процесс лаунчера (process.exe) запущен в данный "
    "момент.\nПопробуйте закрыть его через диспетчер задач.\n\n" VESTREL_CONTACT;

// ---- Folder chooser --------------------------------------------------------------------
// Drawn by the dialog as they are: the GUI takes UTF-8. "Computer" also heads the path bar
// among the narrow folder names, which it reads the same in every encoding.
inline constexpr char kChooserComputer[] = "Computer";
inline constexpr char kChooserErrorTitle[] = "ОШИБКА!";
inline constexpr char kChooserOpenFolderFailed[] =
    "Ошибка во время открытия папки. Убедитесь что имеете должные права к директории.";
inline constexpr char kChooserWrongFolderTitle[] = "Неверная директория!";
inline constexpr char kChooserWrongFolder[] =
    "Выбрана неправильная директория. Пожалуйста, убедитесь что директория существует.";
// A folder the player may not write in (Program Files under a standard account, another
// user's folder): nothing could be installed there.
inline constexpr char kChooserNotWritableTitle[] = "Нет доступа!";
inline constexpr char kChooserNotWritable[] =
    "Установщик не может записывать в эту папку. Пожалуйста, выберите другую папку.";
// The drive list could not be read.
inline constexpr char kChooserDrivesFailed[] =
    "Не удалось получить список дисков. Пожалуйста, введите путь к папке.";
// A folder whose name has characters that narrow text (the install root, the log, the stored
// folder) cannot hold.
inline constexpr char kChooserUnsupportedName[] =
    "Название папки содержит символы, которые установщик не поддерживает. Пожалуйста, выберите "
    "другую папку.";
// A suggestion too long for the name field (it keeps 255 narrow bytes).
inline constexpr char kChooserSuggestionTooLong[] =
    "Название выбранного файла не должно превышать 256 символов.";
// A clicked folder name too long for the name field.
inline constexpr char kChooserNameTooLong[] =
    "Название выбранной папки слишком длинное. Пожалуйста, выберите другую папку.";
inline constexpr char kChooserInstallLabel[] = "Установить:";
inline constexpr char kChooserNameHint[] = "Введите название файла...";
inline constexpr char kChooserShowHidden[] = "Показать скрытые папки";
// The checkbox's tooltip when the window is too narrow for its label.
inline constexpr char kChooserShowHiddenHelp[] = "Show Hidden Files and Folders";
inline constexpr char kChooserFilterHelp[] = "Filter (inc, -exc)";
inline constexpr char kChooserHelpMark[] = "(?)";
// The path bar's button for the parts that do not fit.
inline constexpr char kChooserMoreParts[] = ">>";
inline constexpr char kChooserSelect[] = "Выбрать";
inline constexpr char kChooserCancel[] = "Отмена";
inline constexpr char kChooserOk[] = "OK";

// ---- Signed releases ---------------------------------------------------------------------
// With publisher keys built in, a run goes on only with a release that one of them signed.
// Every refusal is one log line naming the rule and one box; nothing on disk changes.
inline constexpr char kReleaseSslError[] =
    "\n[ОШИБКА] Во время загрузки файла выпуска произошла ошибка (SSL Connect Error) "
    "(VTNetwork)";
inline constexpr char kReleaseOtherError[] =
    "\n[ОШИБКА] Во время загрузки файла выпуска произошла неизвестная ошибка (%s) (VTNetwork)";
inline constexpr char kReleaseFetchFailed[] = "[ОШИБКА] Не удалось загрузить файл выпуска.";
inline constexpr char kReleaseAccepted[] = "[ПРОЦЕСС] Принят подписанный выпуск %llu";
inline constexpr char kReleaseRefused[] = "[ОШИБКА] Выпуск отклонён: %s";
inline constexpr char kReleaseMissing[] = "сервер не отдал файл выпуска (%s)";
inline constexpr char kReleaseUnreadable[] = "файл выпуска не читается (%s)";
inline constexpr char kReleaseNotRead[] = "не удалось прочитать его";
inline constexpr char kReleaseBadSignature[] = "выпуск не подписан ни одним из ключей издателя";
inline constexpr char kReleaseExpired[] = "срок действия выпуска истёк %s";
inline constexpr char kReleaseRolledBack[] =
    "номер выпуска %llu меньше номера уже принятого выпуска %llu";
inline constexpr char kReleaseListMismatch[] = "список %s не совпадает с выпуском";
inline constexpr char kReleaseFileUnnamed[] = "файл %s не назван в выпуске";
inline constexpr char kReleaseFileMismatch[] = "загруженный файл %s не совпадает с выпуском";
inline constexpr char kReleaseFileTooLong[] = "файл %s длиннее, чем сказано в выпуске";
inline constexpr char kReleaseRefusedBox[] =
    "Во время работы авто-апдейтера произошла ошибка:\nОшибка: файлы на сервере не подписаны "
    "издателем игры. Установленные файлы не изменены.\n\n" VESTREL_CONTACT;

#undef VESTREL_CONTACT

}  // namespace vestrel::text
