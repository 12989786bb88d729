<?php
// A PHP page run through the PHP compiler as a CGI program: shows the request as PHP
// sees it.
$keys = ['SERVER_SOFTWARE', 'SERVER_NAME', 'SERVER_ADDR', 'SERVER_PORT', 'SERVER_PROTOCOL',
         'REQUEST_METHOD', 'REQUEST_URI', 'SCRIPT_NAME', 'SCRIPT_FILENAME', 'QUERY_STRING',
         'REMOTE_ADDR', 'REMOTE_HOST', 'DOCUMENT_ROOT', 'HTTP_USER_AGENT', 'HTTP_COOKIE'];
function cell($text) { return htmlspecialchars((string)$text, ENT_QUOTES); }
?>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>PHP on Morlak</title></head>
<body style="font-family: sans-serif">
<h1>PHP <?= cell(PHP_VERSION) ?> is running</h1>
<p>1 + 1 = <?= 1 + 1 ?></p>
<table>
<?php foreach ($keys as $key): ?>
  <tr><td><?= cell($key) ?></td><td><code><?= cell($_SERVER[$key] ?? '') ?></code></td></tr>
<?php endforeach; ?>
</table>
<h2>Parameters</h2>
<pre><?= cell(print_r($_REQUEST, true)) ?></pre>
<form method="post" action="info.php?from=query">
  <input name="text" value="hello"> <button>Send as POST</button>
</form>
</body>
</html>
