window.MUVRA_VERSION = '2.5';
