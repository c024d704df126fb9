// The directory chooser's own texts, in UTF-8 like everything the GUI draws.
#pragma once

namespace vestrel::chooser_text {

inline constexpr char kComputer[] = "Computer";
inline constexpr char kErrorTitle[] = "ОШИБКА!";
inline constexpr char kOpenFolderFailed[] =
    "Ошибка во время открытия папки. Убедитесь что имеете должные права к директории.";
inline constexpr char kWrongFolderTitle[] = "Неверная директория!";
inline constexpr char kWrongFolder[] =
    "Выбрана неправильная директория. Пожалуйста, убедитесь что директория существует.";
inline constexpr char kSuggestionTooLong[] =
    "Название выбранного файла не должно превышать 256 символов.";
// A folder name the name field cannot hold (it keeps 255 bytes).
inline constexpr char kNameTooLong[] =
    "Название выбранной папки слишком длинное. Пожалуйста, выберите другую папку.";
inline constexpr char kInstallLabel[] = "Установить:";
inline constexpr char kSaveLabel[] = "Сохранить:";
inline constexpr char kNameHint[] = "Введите название файла...";
inline constexpr char kShowHidden[] = "Показать скрытые папки";
inline constexpr char kSelect[] = "Выбрать";
inline constexpr char kCancel[] = "Отмена";

}  // namespace vestrel::chooser_text
