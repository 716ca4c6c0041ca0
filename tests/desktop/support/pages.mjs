// The texts the app shows, as a user reads them off the screen: one place for every desktop test.
export const LOADING_TEXT = 'Запускаем локальное приложение…';
export const ERROR_HEADING = 'Не удалось запустить локальный интерфейс';

// The launch-error page, line by line as it is copied out of the window.
export const errorPageLines = (serverLog) => [ERROR_HEADING, 'Закройте приложение и откройте его снова. Журнал запуска:', serverLog];

// The update check's alerts: their labels and buttons in order, as a screen reader reads them.
export const ALERTS = {
  // The Linux app is installed from a package, and says so.
  newer: { labels: ['Доступно обновление Lorvane 9.9.9', 'Скачайте новый пакет и установите его.'], buttons: ['Открыть загрузки', 'Позже'] },
  upToDate: { labels: ['Установлена актуальная версия', 'Lorvane 0.1.0'], buttons: ['OK'] },
  failed: { labels: ['Не удалось проверить обновления', 'Проверьте подключение к интернету и повторите позже.'], buttons: ['OK'] },
};
