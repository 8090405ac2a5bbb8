/* Run in every page the browser has loaded successfully. The build joins the lines into one, so
   every statement ends with a semicolon and there are no line comments. */
(function () {
    window.TARNEmbedded = true;
    window.TARNDownloadEnabled = true;
    /* Run again in the same document (another completed navigation without a new document), it
       must not catch each click twice: every caught click makes a task. */
    if (window.TARNLinksCaught) {
        return;
    }
    Object.defineProperty(window, 'TARNLinksCaught', {value: true});
    var prefix = 'tarndownload://';
    var selector = 'a[href^="tarndownload://"], a[href*="tarndownload://"], [data-download-url], [onclick*="tarndownload"], button';
    function onClick(event) {
        var element = event.target && event.target.closest ? event.target.closest(selector) : null;
        if (!element) {
            return;
        }
        var url = '';
        if (element.tagName === 'A') {
            url = element.getAttribute('href') || '';
        }
        if (!url && element.dataset && element.dataset.downloadUrl) {
            url = element.dataset.downloadUrl;
        }
        if (!url) {
            var match = (element.getAttribute('onclick') || '').match(/tarndownload:\/\/[^'\"]+/);
            if (match) {
                url = match[0];
            }
        }
        if (!url) {
            url = element.getAttribute('href') || '';
        }
        if (url.indexOf(prefix) === 0) {
            event.preventDefault();
            event.stopPropagation();
            window.chrome.webview.postMessage(url);
        }
    }
    document.addEventListener('click', onClick, true);
    var previousOpen = window.open;
    window.open = function (url, target, features) {
        if (url && String(url).indexOf(prefix) === 0) {
            window.chrome.webview.postMessage(String(url));
            return null;
        }
        return previousOpen.apply(this, arguments);
    };
})();
